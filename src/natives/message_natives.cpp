// The native that hands the collected provider messages to Java.
#include <string>
#include <vector>

#include "boundary/jni_text.h"
#include "natives/native_support.h"

using namespace oskel;

OSKEL_NATIVE(jobjectArray, _1getErrList)(JNIEnv *env, jclass, jlong handle) {
    SccInterface *scc = object(handle);
    if (scc == nullptr)
        return nullptr;
    return guarded<jobjectArray>(nullptr, [&]() -> jobjectArray {
        std::vector<std::string> messages;
        scc->getErrList(messages);
        jobjectArray result = newStringArray(env, static_cast<jsize>(messages.size()));
        if (result == nullptr)
            return nullptr;
        const text::LocaleTraits locale = text::currentLocale();
        for (size_t i = 0; i < messages.size(); ++i) {
            LocalRef<jstring> message(env, toJavaString(env, locale, messages[i].c_str()));
            if (env->ExceptionCheck())
                return nullptr;
            env->SetObjectArrayElement(result, static_cast<jsize>(i), message.get());
        }
        return result;
    });
}
