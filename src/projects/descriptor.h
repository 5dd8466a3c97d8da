// Access to a Java project descriptor: any object with getUser,
// getProjectName, getLocalPath, reGetLocalPath, getAuxProjPath and the four
// setters. Methods are looked up on the object's class at every use.
#pragma once

#include <jni.h>

#include <initializer_list>

#include "core/SccInterface.h"
#include "boundary/jni_support.h"

namespace oskel {

// Reads one project text through `getter` into `buffer`, which holds at most
// `limit` bytes of text. A missing getter or a longer value leaves the buffer
// as it was; a null or unconvertible value empties it.
void readDescriptorText(JNIEnv *env, jobject descriptor, const char *getter, char *buffer,
                        size_t limit, PendingExceptions &pending);

// One getter call of a native: the method and the project text it fills.
enum class ProjectText { User, ProjectName, LocalPath, AuxProjPath };
struct Getter {
    const char *method;
    ProjectText text;
};

// Reads the project texts through `getters`, in their order, each within the
// limit of its text (260 bytes; 300 for project name and aux project path).
void readDescriptor(JNIEnv *env, jobject descriptor, std::initializer_list<Getter> getters,
                    ProjectTexts &texts, PendingExceptions &pending);

// Copies the object's project texts into `buffers` and stores them into the
// descriptor through setProjectName, setAuxProjPath, setUser, setLocalPath.
void writeDescriptor(JNIEnv *env, jobject descriptor, const SccInterface &scc,
                     ProjectTexts &buffers, PendingExceptions &pending);

} // namespace oskel
