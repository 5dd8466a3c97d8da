// The natives of JniMisuse (Java test code): each misuses JNI once, as a
// careless native might, so that the JVM's checks have something to report.
#include <jni.h>

#include <cstdint>

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
