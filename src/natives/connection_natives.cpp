// Natives of the provider connection and the trace log.
#include <clocale>
#include <memory>
#include <string>

#include "boundary/discovery.h"
#include "boundary/jni_text.h"
#include "natives/native_support.h"

using namespace oskel;

OSKEL_NATIVE(jlong, _1initialize)(JNIEnv *env, jclass, jstring providerKey) {
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
                created = std::make_unique<SccInterface>(raw.c_str());
            else
                created = std::make_unique<SccInterface>(key.get());
        } else {
            created = std::make_unique<SccInterface>();
        }
        if (created->initialize() != SCC_OK)
            return 0; // the destructor tears the object down
        return handles::add(created.release());
    });
}

OSKEL_NATIVE(jlong, _1uninitialize)(JNIEnv *, jclass, jlong handle) {
    SccInterface *scc = object(handle);
    return scc ? scc->uninitialize() : kNoEntryPoint;
}

OSKEL_NATIVE(jlong, _1getVersion)(JNIEnv *, jclass, jlong handle) {
    SccInterface *scc = object(handle);
    return scc ? scc->getVersion() : kNoEntryPoint;
}

OSKEL_NATIVE(jstring, _1getSCCName)(JNIEnv *env, jclass, jlong handle) {
    SccInterface *scc = object(handle);
    if (scc == nullptr)
        return nullptr;
    return guarded<jstring>(nullptr, [&] { return foreignToJavaString(env, scc->getSCCName()); });
}

OSKEL_NATIVE(jlong, _1getCapabilities)(JNIEnv *, jclass, jlong handle) {
    SccInterface *scc = object(handle);
    return scc ? scc->getCapabilities() : kNoEntryPoint;
}

OSKEL_NATIVE(void, _1setTracing)(JNIEnv *env, jclass, jlong handle, jint level, jstring path) {
    SccInterface *scc = object(handle);
    if (scc == nullptr || path == nullptr)
        return;
    UtfChars chars(env, path);
    if (chars.get() == nullptr)
        return;
    guarded<int>(0, [&] {
        scc->setTracing(level, chars.get());
        return 0;
    });
}
