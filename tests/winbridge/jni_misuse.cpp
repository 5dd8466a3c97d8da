// The natives of JniMisuse (Java test code): each misuses JNI once, as a
// careless native might, so that the JVM's checks have something to report.
#include <jni.h>

#include <cstdint>
#include <thread>

#define MISUSE_NATIVE(name)                                                                        \
    extern "C" JNIEXPORT void JNICALL Java_com_vantrel_oskel_managedprojects_scci_testing_JniMisuse_##name

MISUSE_NATIVE(useDeletedGlobal)(JNIEnv *env, jclass, jobject object) {
    jobject global = env->NewGlobalRef(object);
    env->DeleteGlobalRef(global);
    env->GetObjectClass(global);
}

MISUSE_NATIVE(useForeign)(JNIEnv *env, jclass) {
    // Aligned like a real handle, and inside no handle block.
    env->GetObjectClass(reinterpret_cast<jobject>(static_cast<uintptr_t>(0x7e57bee0)));
}

// No misuse: a thread of the library's own attaches itself, runs the task's
// run() and detaches; the call returns when it has ended.
MISUSE_NATIVE(runOnAttachedThread)(JNIEnv *env, jclass, jobject task) {
    JavaVM *vm = nullptr;
    jobject global = env->GetJavaVM(&vm) == JNI_OK ? env->NewGlobalRef(task) : nullptr;
    if (global == nullptr)
        return;
    std::thread([vm, global] {
        JNIEnv *own = nullptr;
        JavaVMAttachArgs args{JNI_VERSION_1_6, const_cast<char *>("jni-misuse worker"), nullptr};
        if (vm->AttachCurrentThread(reinterpret_cast<void **>(&own), &args) != JNI_OK)
            return;
        jclass type = own->GetObjectClass(global);
        jmethodID run = own->ExceptionCheck() ? nullptr : own->GetMethodID(type, "run", "()V");
        if (run != nullptr)
            own->CallVoidMethod(global, run);
        if (own->ExceptionCheck())
            own->ExceptionClear();
        own->DeleteLocalRef(type);
        own->DeleteGlobalRef(global);
        vm->DetachCurrentThread();
    }).join();
}
