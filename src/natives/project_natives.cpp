// Natives that open, locate and close projects through a Java descriptor.
#include <cstring>

#include "boundary/jni_text.h"
#include "natives/native_support.h"
#include "projects/descriptor.h"

using namespace oskel;

namespace {

// Replaces a project text by a caller's override: a null override keeps the
// text, one that does not convert or does not fit empties it.
template <size_t N> void override(JNIEnv *env, jstring value, char (&buffer)[N]) {
    if (value == nullptr)
        return;
    AnsiText text(env, value);
    if (text.get() != nullptr && text.size() < N)
        std::memcpy(buffer, text.get(), text.size() + 1);
    else
        buffer[0] = '\0';
}

jlong queryPath(JNIEnv *env, SccInterface &scc, jobject descriptor, ProjectTexts &texts,
                jboolean allowChangePath, jboolean allowNew, PendingExceptions &pending) {
    int32_t result = scc.getProjectPath(texts, allowChangePath ? 1 : 0, allowNew ? 1 : 0);
    if (result == SCC_OK) {
        scc.resetProjectPath(texts);
        writeDescriptor(env, descriptor, scc, texts, pending);
    }
    return result;
}

// The shared frame of the three natives that read a descriptor: the handle
// and descriptor checks, the descriptor's exceptions (taken, and the first
// thrown again on return), the project texts, and the operation.
template <typename Op>
jlong withDescriptor(JNIEnv *env, jlong handle, jobject descriptor,
                     std::initializer_list<Getter> getters, Op &&op) {
    SccInterface *scc = object(handle);
    if (scc == nullptr || descriptor == nullptr)
        return kBadArgument;
    PendingExceptions pending(env);
    return guarded<jlong>(kCallFailed, [&]() -> jlong {
        ProjectTexts texts;
        readDescriptor(env, descriptor, getters, texts, pending);
        return op(*scc, texts, pending);
    });
}

} // namespace

OSKEL_NATIVE(jlong, _1openProject)(JNIEnv *env, jclass, jlong handle, jobject descriptor) {
    return withDescriptor(env, handle, descriptor,
                          {{"getUser", ProjectText::User},
                           {"getProjectName", ProjectText::ProjectName},
                           {"getAuxProjPath", ProjectText::AuxProjPath},
                           {"reGetLocalPath", ProjectText::LocalPath}},
                          [&](SccInterface &scc, ProjectTexts &texts, PendingExceptions &pending) {
                              int32_t result = scc.openProject(texts.user, texts.projectName,
                                                               texts.localPath, texts.auxProjPath);
                              if (result == SCC_OK)
                                  writeDescriptor(env, descriptor, scc, texts, pending);
                              return jlong{result};
                          });
}

OSKEL_NATIVE(jlong, _1getProjPath)(JNIEnv *env, jclass, jlong handle, jobject descriptor,
                                    jboolean allowChangePath, jboolean allowNew) {
    return withDescriptor(env, handle, descriptor,
                          {{"getUser", ProjectText::User},
                           {"getProjectName", ProjectText::ProjectName},
                           {"getLocalPath", ProjectText::LocalPath},
                           {"getAuxProjPath", ProjectText::AuxProjPath}},
                          [&](SccInterface &scc, ProjectTexts &texts, PendingExceptions &pending) {
                              return queryPath(env, scc, descriptor, texts, allowChangePath,
                                               allowNew, pending);
                          });
}

OSKEL_NATIVE(jlong, _1reGetProjPath)(JNIEnv *env, jclass, jlong handle, jobject descriptor,
                                      jstring user, jstring localPath, jboolean allowChangePath,
                                      jboolean allowNew) {
    return withDescriptor(env, handle, descriptor,
                          {{"getUser", ProjectText::User},
                           {"getLocalPath", ProjectText::LocalPath},
                           {"getProjectName", ProjectText::ProjectName},
                           {"getAuxProjPath", ProjectText::AuxProjPath}},
                          [&](SccInterface &scc, ProjectTexts &texts, PendingExceptions &pending) {
                              override(env, user, texts.user);
                              override(env, localPath, texts.localPath);
                              return queryPath(env, scc, descriptor, texts, allowChangePath,
                                               allowNew, pending);
                          });
}

OSKEL_NATIVE(jlong, _1closeProject)(JNIEnv *, jclass, jlong handle) {
    return withObject(handle, [](SccInterface &scc) -> jlong { return scc.closeProject(); });
}
