// Natives that list the installed providers and look up a provider's key.
#include <string>
#include <vector>

#include "boundary/discovery.h"
#include "boundary/jni_text.h"
#include "boundary/text.h"
#include "natives/native_support.h"

using namespace oskel;

OSKEL_NATIVE(jobjectArray, _1getProviders)(JNIEnv *env, jclass) {
    return guarded<jobjectArray>(nullptr, [&]() -> jobjectArray {
        platform::RegistryReadScope oneReading;
        std::vector<std::string> names;
        if (!discovery::listProviderNames(names))
            return nullptr;
        jobjectArray result = newStringArray(env, static_cast<jsize>(names.size()));
        if (result == nullptr)
            return nullptr;
        for (size_t i = 0; i < names.size(); ++i) {
            jstring name = foreignToJavaString(env, names[i].c_str());
            if (name == nullptr)
                return nullptr;
            env->SetObjectArrayElement(result, static_cast<jsize>(i), name);
            env->DeleteLocalRef(name);
        }
        return result;
    });
}

OSKEL_NATIVE(jstring, _1getProviderKey)(JNIEnv *env, jclass, jstring providerName) {
    if (providerName == nullptr)
        return nullptr;
    return guarded<jstring>(nullptr, [&]() -> jstring {
        platform::RegistryReadScope oneReading;
        std::string key;
        bool found = false;
        {
            UtfChars name(env, providerName);
            if (name.get() == nullptr)
                return nullptr;
            found = discovery::readProviderKey(name.get(), key);
        }
        if (!found) {
            // A name that is not modified UTF-8 in the registry reached Java
            // decoded; find it again by comparing the decoded names.
            std::vector<std::string> names;
            if (!discovery::listProviderNames(names))
                return nullptr;
            const std::u16string wanted = javaChars(env, providerName);
            for (const auto &candidate : names) {
                if (!text::isModifiedUtf8(candidate.c_str()) &&
                    text::decodeForeign(candidate.c_str()) == wanted) {
                    found = discovery::readProviderKey(candidate.c_str(), key);
                    break;
                }
            }
        }
        return found ? foreignToJavaString(env, key.c_str()) : nullptr;
    });
}
