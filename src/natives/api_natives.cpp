// Natives of the typed Java API (com.vantrel.oskel.scc.internal.NativeBridge):
// what the API needs beside the natives of JavaSCCInterface, whose behaviour
// stays as it is. Thin, like those: convert, run one operation, return.
#include <memory>
#include <string>
#include <vector>

#include "boundary/jni_text.h"
#include "core/api_ops.h"
#include "core/connect_report.h"
#include "messages/messages.h"
#include "natives/native_support.h"
#include "platform/platform.h"
#include "projects/descriptor.h"

#define OSKEL_API_NATIVE(result, name)                                                        \
    extern "C" JNIEXPORT result JNICALL Java_com_vantrel_oskel_scc_internal_NativeBridge_##name

using namespace oskel;

namespace {

// Hands status lines to a Java object's status(String) method while a
// provider call runs on this thread. Made and dropped by setProgress.
class JavaStatusSink final : public messages::StatusSink, public messages::InterruptProbe {
public:
    JavaStatusSink(JNIEnv *env, jobject target, jmethodID method)
        : env_(env), target_(target), method_(method) {}
    jobject target() const { return target_; }

    // Thread.currentThread().isInterrupted(), asked on the calling thread.
    bool interrupted() noexcept override {
        if (env_->ExceptionCheck())
            return false;
        jclass thread = env_->FindClass("java/lang/Thread");
        if (thread == nullptr) {
            env_->ExceptionClear();
            return false;
        }
        jmethodID current = env_->GetStaticMethodID(thread, "currentThread", "()Ljava/lang/Thread;");
        jmethodID isInterrupted = env_->GetMethodID(thread, "isInterrupted", "()Z");
        jboolean result = JNI_FALSE;
        if (current != nullptr && isInterrupted != nullptr) {
            jobject self = env_->CallStaticObjectMethod(thread, current);
            if (self != nullptr && !env_->ExceptionCheck())
                result = env_->CallBooleanMethod(self, isInterrupted);
            if (self != nullptr)
                env_->DeleteLocalRef(self);
        }
        if (env_->ExceptionCheck())
            env_->ExceptionClear();
        env_->DeleteLocalRef(thread);
        return result == JNI_TRUE;
    }

    void status(const char *text) noexcept override {
        // Nothing runs while an exception is pending; one the receiver throws
        // is dropped, so that the provider call goes on.
        if (env_->ExceptionCheck())
            return;
        jstring line = toJavaString(env_, text);
        if (env_->ExceptionCheck()) {
            env_->ExceptionClear();
            return;
        }
        if (line == nullptr)
            return;
        env_->CallVoidMethod(target_, method_, line);
        if (env_->ExceptionCheck())
            env_->ExceptionClear();
        env_->DeleteLocalRef(line);
    }

private:
    JNIEnv *env_;
    jobject target_; // a global reference
    jmethodID method_;
};

thread_local JavaStatusSink *progressSink = nullptr;

void dropProgressSink(JNIEnv *env) {
    if (progressSink == nullptr)
        return;
    messages::setStatusSink(nullptr);
    messages::setInterruptProbe(nullptr);
    env->DeleteGlobalRef(progressSink->target());
    delete progressSink;
    progressSink = nullptr;
}

jstring utf(JNIEnv *env, const std::string &text) {
    return foreignToJavaString(env, text.c_str());
}

} // namespace

OSKEL_API_NATIVE(jlong, connect)(JNIEnv *env, jclass, jstring providerKey) {
    return connectNative(env, providerKey, MessageOwner::Connection);
}

OSKEL_API_NATIVE(jlong, finish)(JNIEnv *, jclass, jlong handle) {
    return guarded<jlong>(kCallFailed, [&]() -> jlong { return api::finish(handle); });
}

OSKEL_API_NATIVE(jlong, release)(JNIEnv *, jclass, jlong handle) {
    return guarded<jlong>(kCallFailed, [&]() -> jlong { return api::release(handle); });
}

OSKEL_API_NATIVE(jint, enter)(JNIEnv *, jclass, jlong handle, jint waitMs) {
    return guarded<jint>(kBadHandle, [&]() -> jint { return api::enter(handle, waitMs); });
}

OSKEL_API_NATIVE(jboolean, leave)(JNIEnv *, jclass, jlong handle) {
    return api::leave(handle) ? JNI_TRUE : JNI_FALSE;
}

OSKEL_API_NATIVE(jobjectArray, takeMessages)(JNIEnv *env, jclass, jlong handle) {
    return guarded<jobjectArray>(nullptr, [&]() -> jobjectArray {
        std::vector<std::string> taken;
        if (!api::takeMessages(handle, taken))
            return nullptr;
        jobjectArray result = newStringArray(env, static_cast<jsize>(taken.size()));
        if (result == nullptr)
            return nullptr;
        const text::LocaleTraits locale = text::currentLocale();
        for (size_t i = 0; i < taken.size(); ++i) {
            jstring message = toJavaString(env, locale, taken[i].c_str());
            if (env->ExceptionCheck())
                return nullptr;
            env->SetObjectArrayElement(result, static_cast<jsize>(i), message);
            if (message != nullptr)
                env->DeleteLocalRef(message);
        }
        return result;
    });
}

OSKEL_API_NATIVE(jlong, openProject)(JNIEnv *env, jclass, jlong handle, jobject descriptor,
                                     jint flags) {
    return withObject(handle, [&](SccInterface &scc) -> jlong {
        if (descriptor == nullptr)
            return kBadArgument;
        PendingExceptions pending(env);
        ProjectTexts texts;
        readDescriptor(env, descriptor,
                       {{"getUser", ProjectText::User},
                        {"getProjectName", ProjectText::ProjectName},
                        {"getAuxProjPath", ProjectText::AuxProjPath},
                        {"reGetLocalPath", ProjectText::LocalPath}},
                       texts, pending);
        int32_t result = scc.openProject(texts.user, texts.projectName, texts.localPath,
                                         texts.auxProjPath, flags);
        if (result == SCC_OK)
            writeDescriptor(env, descriptor, scc, texts, pending);
        return jlong{result};
    });
}

OSKEL_API_NATIVE(void, setProgress)(JNIEnv *env, jclass, jobject receiver) {
    // The receiver of a call that runs on this thread (this is its listener
    // calling back) stays until that call returns.
    if (currentCall() != nullptr)
        return;
    dropProgressSink(env);
    if (receiver == nullptr)
        return;
    jclass type = env->GetObjectClass(receiver);
    jmethodID method = env->GetMethodID(type, "status", "(Ljava/lang/String;)V");
    env->DeleteLocalRef(type);
    if (method == nullptr)
        return; // NoSuchMethodError stays pending for the caller
    jobject target = env->NewGlobalRef(receiver);
    if (target == nullptr)
        return;
    progressSink = new (std::nothrow) JavaStatusSink(env, target, method);
    if (progressSink == nullptr) {
        env->DeleteGlobalRef(target);
        return;
    }
    messages::setStatusSink(progressSink);
    messages::setInterruptProbe(progressSink);
}

OSKEL_API_NATIVE(jboolean, setRegistryFile)(JNIEnv *env, jclass, jstring path) {
    if (path == nullptr)
        return platform::setRegistryFile(nullptr) ? JNI_TRUE : JNI_FALSE;
    return guarded<jboolean>(JNI_FALSE, [&] {
        const std::u16string units = javaChars(env, path);
        platform::Path file;
        return platform::pathFromUtf16(units.data(), units.size(), file) &&
                       platform::setRegistryFile(file)
                   ? JNI_TRUE
                   : JNI_FALSE;
    });
}

// What the last failed connect of this thread found, in a fixed order: the
// failed step, registry location and state, provider key, library path,
// loader error, "hosted" or "", host program, host error, SccInitialize's
// code or "". Null elements for texts that are empty.
OSKEL_API_NATIVE(jobjectArray, connectReport)(JNIEnv *env, jclass) {
    return guarded<jobjectArray>(nullptr, [&]() -> jobjectArray {
        const ConnectReport &report = connectReport();
        const platform::RegistrySource registry = platform::describeRegistry();
        const std::string fields[] = {
            report.failure,
            registry.location,
            registry.state,
            report.providerKey,
            report.libraryPath,
            report.loaderError,
            report.hosted ? "hosted" : "",
            report.hostProgram,
            report.hostError,
            report.initializeCalled ? std::to_string(report.initializeCode) : "",
        };
        constexpr jsize count = sizeof fields / sizeof fields[0];
        jobjectArray result = newStringArray(env, count);
        if (result == nullptr)
            return nullptr;
        for (jsize i = 0; i < count; ++i) {
            if (fields[i].empty()) {
                env->SetObjectArrayElement(result, i, nullptr);
                continue;
            }
            jstring text = utf(env, fields[i]);
            if (env->ExceptionCheck())
                return nullptr;
            env->SetObjectArrayElement(result, i, text);
            if (text != nullptr)
                env->DeleteLocalRef(text);
        }
        return result;
    });
}
