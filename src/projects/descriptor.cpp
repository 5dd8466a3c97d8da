#include "projects/descriptor.h"

#include <cstring>

#include "boundary/jni_text.h"

namespace oskel {

namespace {
constexpr const char kGetterSignature[] = "()Ljava/lang/String;";
constexpr const char kSetterSignature[] = "(Ljava/lang/String;)V";

// Looks a method up on the descriptor's class; a missing one raises
// NoSuchMethodError, which is taken and kept for the caller.
jmethodID method(JNIEnv *env, jclass cls, const char *name, const char *signature,
                 PendingExceptions &pending) {
    jmethodID id = env->GetMethodID(cls, name, signature);
    if (id == nullptr)
        pending.take();
    return id;
}
} // namespace

void readDescriptorText(JNIEnv *env, jobject descriptor, const char *getter, char *buffer,
                        size_t limit, PendingExceptions &pending) {
    jmethodID id;
    {
        LocalRef<jclass> cls(env, env->GetObjectClass(descriptor));
        id = method(env, cls.get(), getter, kGetterSignature, pending);
    }
    if (id == nullptr)
        return;
    LocalRef<jstring> value(env, static_cast<jstring>(env->CallObjectMethod(descriptor, id)));
    // A getter that threw counts as having returned null.
    AnsiText text(env, pending.take() ? nullptr : value.get());
    if (text.get() == nullptr) {
        buffer[0] = '\0';
    } else if (text.size() <= limit) {
        std::memcpy(buffer, text.get(), text.size() + 1);
    }
}

void readDescriptor(JNIEnv *env, jobject descriptor, std::initializer_list<Getter> getters,
                    ProjectTexts &texts, PendingExceptions &pending) {
    for (const Getter &getter : getters) {
        char *buffer = texts.user;
        size_t limit = sizeof texts.user - 1;
        switch (getter.text) {
        case ProjectText::User:
            break;
        case ProjectText::ProjectName:
            buffer = texts.projectName, limit = sizeof texts.projectName - 1;
            break;
        case ProjectText::LocalPath:
            buffer = texts.localPath, limit = sizeof texts.localPath - 1;
            break;
        case ProjectText::AuxProjPath:
            buffer = texts.auxProjPath, limit = sizeof texts.auxProjPath - 1;
            break;
        }
        readDescriptorText(env, descriptor, getter.method, buffer, limit, pending);
    }
}

void writeDescriptor(JNIEnv *env, jobject descriptor, const SccInterface &scc,
                     ProjectTexts &buffers, PendingExceptions &pending) {
    scc.returnProjectPath(buffers);
    LocalRef<jclass> cls(env, env->GetObjectClass(descriptor));
    const struct {
        const char *setter;
        const char *text;
    } order[] = {{"setProjectName", buffers.projectName},
                 {"setAuxProjPath", buffers.auxProjPath},
                 {"setUser", buffers.user},
                 {"setLocalPath", buffers.localPath}};
    for (const auto &pair : order) {
        jmethodID id = method(env, cls.get(), pair.setter, kSetterSignature, pending);
        if (id == nullptr)
            continue;
        LocalRef<jstring> value(env, toJavaString(env, pair.text));
        pending.take(); // a failed allocation of the string
        env->CallVoidMethod(descriptor, id, value.get());
        pending.take();
    }
}

} // namespace oskel
