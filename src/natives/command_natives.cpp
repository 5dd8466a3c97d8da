// Natives of the file commands, the command options and the populate lists.
#include <vector>

#include "boundary/jni_text.h"
#include "natives/native_support.h"

using namespace oskel;

namespace {

// A file list as a native receives it: the count (low 32 bits of the Java
// long) and the converted names. A count below 0, beyond the array, or above
// 0 without an array is refused before any provider call.
struct FileList {
    FileList(JNIEnv *env, jlong count, jobjectArray files, const text::LocaleTraits &locale)
        : n(low32(count)), length(files ? env->GetArrayLength(files) : 0),
          valid(n >= 0 && n <= length), names(env, valid ? files : nullptr, n, length, locale) {}
    int32_t n;
    jsize length;
    bool valid;
    TextArray names; // the first n elements: the provider sees no others
};

template <typename Op> jlong listCommand(JNIEnv *env, jlong handle, jlong count,
                                         jobjectArray files, Op &&op) {
    SccInterface *scc = object(handle);
    if (scc == nullptr)
        return kBadHandle;
    return guarded<jlong>(kCallFailed, [&]() -> jlong {
        FileList list(env, count, files, text::currentLocale());
        if (!list.valid)
            return kBadArgument;
        return op(*scc, list.n, list.names.data());
    });
}

template <typename Op> jlong commentCommand(JNIEnv *env, jlong handle, jlong count,
                                            jobjectArray files, jstring comment, Op &&op) {
    SccInterface *scc = object(handle);
    if (scc == nullptr)
        return kBadHandle;
    return guarded<jlong>(kCallFailed, [&]() -> jlong {
        const text::LocaleTraits locale = text::currentLocale(); // one lookup for every text
        AnsiText text(env, comment, locale);
        FileList list(env, count, files, locale);
        if (!list.valid)
            return kBadArgument;
        return op(*scc, list.n, list.names.data(), text.get());
    });
}

template <typename Op> jlong oneFileCommand(JNIEnv *env, jlong handle, jstring file, Op &&op) {
    SccInterface *scc = object(handle);
    if (scc == nullptr)
        return kBadHandle;
    return guarded<jlong>(kCallFailed, [&]() -> jlong {
        AnsiText name(env, file);
        return op(*scc, name.get());
    });
}

} // namespace

OSKEL_NATIVE(jlong, _1getFiles)(JNIEnv *env, jclass, jlong handle, jlong count,
                                 jobjectArray files) {
    return listCommand(env, handle, count, files, [](SccInterface &scc, int32_t n, const char **names) {
        return scc.getFiles(n, names, 0);
    });
}

OSKEL_NATIVE(jlong, _1checkout)(JNIEnv *env, jclass, jlong handle, jlong count,
                                 jobjectArray files, jstring comment) {
    return commentCommand(env, handle, count, files, comment,
                          [](SccInterface &scc, int32_t n, const char **names, const char *c) {
                              return scc.checkout(n, names, c, 0);
                          });
}

OSKEL_NATIVE(jlong, _1checkin)(JNIEnv *env, jclass, jlong handle, jlong count,
                                jobjectArray files, jstring comment) {
    return commentCommand(env, handle, count, files, comment,
                          [](SccInterface &scc, int32_t n, const char **names, const char *c) {
                              return scc.checkin(n, names, c, 0);
                          });
}

OSKEL_NATIVE(jlong, _1uncheckout)(JNIEnv *env, jclass, jlong handle, jlong count,
                                   jobjectArray files) {
    return listCommand(env, handle, count, files, [](SccInterface &scc, int32_t n, const char **names) {
        return scc.uncheckout(n, names, 0);
    });
}

OSKEL_NATIVE(jlong, _1add)(JNIEnv *env, jclass, jlong handle, jlong count, jobjectArray files,
                            jstring comment) {
    return commentCommand(env, handle, count, files, comment,
                          [](SccInterface &scc, int32_t n, const char **names, const char *c) {
                              std::vector<SCCLONG> flags(static_cast<size_t>(n) + 1, 0);
                              return scc.add(n, names, c, flags.data());
                          });
}

OSKEL_NATIVE(jlong, _1remove)(JNIEnv *env, jclass, jlong handle, jlong count,
                               jobjectArray files, jstring comment) {
    return commentCommand(env, handle, count, files, comment,
                          [](SccInterface &scc, int32_t n, const char **names, const char *c) {
                              return scc.remove(n, names, c, 0);
                          });
}

OSKEL_NATIVE(jlong, _1history)(JNIEnv *env, jclass, jlong handle, jlong count,
                                jobjectArray files) {
    return listCommand(env, handle, count, files, [](SccInterface &scc, int32_t n, const char **names) {
        return scc.history(n, names, 0);
    });
}

OSKEL_NATIVE(jlong, _1diff)(JNIEnv *env, jclass, jlong handle, jstring file) {
    return oneFileCommand(env, handle, file,
                          [](SccInterface &scc, const char *name) { return scc.diff(name, 0); });
}

OSKEL_NATIVE(jlong, _1properties)(JNIEnv *env, jclass, jlong handle, jstring file) {
    return oneFileCommand(env, handle, file,
                          [](SccInterface &scc, const char *name) { return scc.properties(name); });
}

OSKEL_NATIVE(jlong, _1runScc)(JNIEnv *env, jclass, jlong handle, jlong count,
                               jobjectArray files) {
    return listCommand(env, handle, count, files, [](SccInterface &scc, int32_t n, const char **names) {
        return scc.runScc(n, names);
    });
}

OSKEL_NATIVE(jintArray, _1queryInfo)(JNIEnv *env, jclass, jlong handle, jlong count,
                                      jobjectArray files) {
    SccInterface *scc = object(handle);
    if (scc == nullptr)
        return nullptr;
    return guarded<jintArray>(nullptr, [&]() -> jintArray {
        FileList list(env, count, files, text::currentLocale());
        if (!list.valid)
            return nullptr;
        std::vector<SCCLONG> status(static_cast<size_t>(list.n) + 1, 0);
        scc->queryInfo(list.n, list.names.data(), status.data());
        jintArray result = env->NewIntArray(list.n);
        if (result != nullptr && list.n > 0)
            env->SetIntArrayRegion(result, 0, list.n, reinterpret_cast<const jint *>(status.data()));
        return result;
    });
}

OSKEL_NATIVE(jlong, _1getCommandOptions)(JNIEnv *, jclass, jlong handle, jlong command) {
    return withObject(handle,
                      [&](SccInterface &scc) -> jlong { return scc.getCommandOptions(low32(command)); });
}

OSKEL_NATIVE(jlong, _1checkCommandOptions)(JNIEnv *, jclass, jlong handle, jlong command) {
    return withObject(handle, [&](SccInterface &scc) -> jlong {
        return scc.checkCommandOptions(low32(command));
    });
}

OSKEL_NATIVE(jlong, _1populateList)(JNIEnv *env, jclass, jlong handle, jlong command,
                                     jlong count, jobjectArray files) {
    return listCommand(env, handle, count, files,
                       [&](SccInterface &scc, int32_t n, const char **names) {
                           std::vector<SCCLONG> status(static_cast<size_t>(n) + 1, 0);
                           return scc.populateList(low32(command), n, names, status.data(), 0);
                       });
}

OSKEL_NATIVE(jobjectArray, _1getPopulateList)(JNIEnv *env, jclass, jlong handle, jlong which) {
    SccInterface *scc = object(handle);
    if (scc == nullptr)
        return nullptr;
    return guarded<jobjectArray>(nullptr, [&]() -> jobjectArray {
        const int32_t selector = low32(which);
        const int32_t count = scc->getListNumber(selector);
        const auto &items = scc->getList(selector);
        return toJavaStringArray(env, count,
                                 [&items](jsize i) { return items[static_cast<size_t>(i)]; });
    });
}
