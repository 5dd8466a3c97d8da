// What every native entry point shares: its exported name, the object behind
// its handle and the frame it runs one operation of that object in. The
// guards it converts its arguments with are in boundary/jni_support.h.
#pragma once

#include <jni.h>

#include <cstdint>

#include "boundary/jni_support.h"
#include "core/SccInterface.h"
#include "core/handles.h"

#define OSKEL_NATIVE(result, name)                                                            \
    extern "C" JNIEXPORT result JNICALL                                                       \
        Java_com_vantrel_oskel_managedprojects_scci_JavaSCCInterface_##name

namespace oskel {

// What a native returns when it makes no provider call: a handle that no
// _initialize returned, an argument it refuses (a bad count, a null
// descriptor), or a call that could not be made (out of memory). Callers see
// SCC_E_NONSPECIFICERROR for each, as for a missing entry point.
constexpr jlong kBadHandle = SCC_E_NONSPECIFICERROR;
constexpr jlong kBadArgument = SCC_E_NONSPECIFICERROR;
constexpr jlong kCallFailed = SCC_E_NONSPECIFICERROR;

// The object behind a handle, or null for a handle no _initialize returned.
inline SccInterface *object(jlong handle) { return handles::find(handle); }

// The frame of a native that runs one operation of the interface object:
// kBadHandle without an object, else what `body` returns for it, or
// kCallFailed when it throws.
template <typename Body> jlong withObject(jlong handle, Body &&body) {
    SccInterface *scc = object(handle);
    if (scc == nullptr)
        return kBadHandle;
    return guarded<jlong>(kCallFailed, [&]() -> jlong { return body(*scc); });
}

// _initialize, and the typed API's connect: a new connection whose messages go
// to the process-wide list or to one of its own. The handle, or 0.
jlong connectNative(JNIEnv *env, jstring providerKey, MessageOwner owner);

// The provider's code, once `writeBack` has handed the call's outputs to Java
// when the code is not an error.
template <typename WriteBack> jlong writtenBack(int32_t result, WriteBack &&writeBack) {
    if (result >= 0)
        writeBack();
    return result;
}

} // namespace oskel
