// What every native entry point shares: its exported name and the object
// behind its handle. The guards it converts its arguments with are in
// boundary/jni_support.h.
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

// The object behind a handle, or null for a handle no _initialize returned.
inline SccInterface *object(jlong handle) { return handles::find(handle); }

} // namespace oskel
