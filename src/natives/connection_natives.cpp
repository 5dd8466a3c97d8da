// Natives of the provider connection and the trace log.
#include <clocale>
#include <memory>
#include <string>

#include "boundary/discovery.h"
#include "boundary/jni_text.h"
#include "natives/native_support.h"
#include "platform/platform.h"

using namespace oskel;

OSKEL_NATIVE(jlong, _1initialize)(JNIEnv *env, jclass, jstring providerKey) {
    return connectNative(env, providerKey, MessageOwner::Process);
}

jlong oskel::connectNative(JNIEnv *env, jstring providerKey, MessageOwner owner) {
    std::setlocale(LC_ALL, "");
    return guarded<jlong>(0, [&]() -> jlong {
        platform::RegistryReadScope oneReading;
        std::unique_ptr<SccInterface> created;
        if (providerKey != nullptr) {
            UtfChars key(env, providerKey);
            if (key.get() == nullptr)
                return 0;
            // A key that is not modified UTF-8 in the registry reached Java
            // decoded; its registry bytes are found again among the installed
            // providers' keys.
            std::string raw;
            if (!text::isAscii(key.get()) &&
                discovery::findRawProviderKey(javaChars(env, providerKey), raw))
                created = std::make_unique<SccInterface>(raw.c_str(), owner);
            else
                created = std::make_unique<SccInterface>(key.get(), owner);
        } else {
            created = std::make_unique<SccInterface>(owner);
        }
        if (created->initialize() != SCC_OK)
            return 0; // the destructor tears the object down
        return handles::adopt(created);
    });
}

OSKEL_NATIVE(jlong, _1uninitialize)(JNIEnv *, jclass, jlong handle) {
    return withObject(handle, [](SccInterface &scc) -> jlong { return scc.uninitialize(); });
}

OSKEL_NATIVE(jlong, _1getVersion)(JNIEnv *, jclass, jlong handle) {
    return withObject(handle, [](SccInterface &scc) -> jlong { return scc.getVersion(); });
}

OSKEL_NATIVE(jstring, _1getSCCName)(JNIEnv *env, jclass, jlong handle) {
    SccInterface *scc = object(handle);
    if (scc == nullptr)
        return nullptr;
    return guarded<jstring>(nullptr, [&] { return foreignToJavaString(env, scc->getSCCName()); });
}

OSKEL_NATIVE(jlong, _1getCapabilities)(JNIEnv *, jclass, jlong handle) {
    SccInterface *scc = object(handle);
    return scc ? scc->getCapabilities() : kBadHandle;
}

OSKEL_NATIVE(void, _1setTracing)(JNIEnv *env, jclass, jlong handle, jint level, jstring path) {
    SccInterface *scc = object(handle);
    if (scc == nullptr || path == nullptr)
        return;
    guarded<int>(0, [&] {
        // As UTF-8, which the trace writer turns into the system's form.
        const std::u16string units = javaChars(env, path);
        scc->setTracing(level, platform::utf16ToUtf8(units.data(), units.size()).c_str());
        return 0;
    });
}
