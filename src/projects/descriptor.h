// Access to a Java project descriptor: any object with getUser,
// getProjectName, getLocalPath, reGetLocalPath, getAuxProjPath and the four
// setters. Methods are looked up on the object's class at every use.
#pragma once

#include <jni.h>

#include "core/SccInterface.h"
#include "natives/native_support.h"

namespace oskel {

// Reads one project text through `getter` into `buffer`, which holds at most
// `limit` bytes of text. A missing getter or a longer value leaves the buffer
// as it was; a null or unconvertible value empties it.
void readDescriptorText(JNIEnv *env, jobject descriptor, const char *getter, char *buffer,
                        size_t limit, PendingExceptions &pending);

// Copies the object's project texts into `buffers` and stores them into the
// descriptor through setProjectName, setAuxProjPath, setUser, setLocalPath.
void writeDescriptor(JNIEnv *env, jobject descriptor, const SccInterface &scc,
                     ProjectTexts &buffers, PendingExceptions &pending);

} // namespace oskel
