// Natives of the typed Java API for the provider API's further entry points
// (com.vantrel.oskel.scc.internal.NativeBridge): convert, run one operation,
// write the outputs back when the provider's code is not an error.
#include <memory>
#include <string>
#include <vector>

#include "boundary/jni_text.h"
#include "core/api_ops.h"
#include "natives/native_support.h"

#define OSKEL_API_NATIVE(result, name)                                                        \
    extern "C" JNIEXPORT result JNICALL Java_com_vantrel_oskel_scc_internal_NativeBridge_##name

using namespace oskel;

namespace {

// A name array every element of which is passed: a null array, a null
// element or one that does not convert makes it invalid.
struct Names {
    Names(JNIEnv *env, jobjectArray array) : texts(env, array) {
        valid = array != nullptr;
        for (size_t i = 0; valid && i < texts.size(); ++i)
            valid = texts.data()[i] != nullptr;
    }
    int32_t count() const { return static_cast<int32_t>(texts.size()); }
    TextArray texts;
    bool valid;
};

// A text that must be passed: null when the string is null or does not convert.
struct RequiredText {
    RequiredText(JNIEnv *env, jstring string) : text(env, string) {}
    const char *get() const { return text.get(); }
    AnsiText text;
};

// Elements of a String[] of fixed use, converted; `present` is false for an
// element that is not null but does not convert.
struct TextElements {
    TextElements(JNIEnv *env, jobjectArray array, jsize count) {
        for (jsize i = 0; i < count; ++i) {
            LocalRef<jstring> element(env, static_cast<jstring>(env->GetObjectArrayElement(array, i)));
            texts.emplace_back(env, element.get());
            nulls.push_back(!element);
        }
    }
    const char *get(size_t i) const { return texts[i].get(); }
    // Every non-null element converted.
    bool converted() const {
        for (size_t i = 0; i < texts.size(); ++i)
            if (!nulls[i] && texts[i].get() == nullptr)
                return false;
        return true;
    }
    std::vector<AnsiText> texts;
    std::vector<bool> nulls;
};

// Stores a text as element `i` of a String[] (null where it does not convert).
void setElement(JNIEnv *env, jobjectArray array, jsize i, const char *text) {
    LocalRef<jstring> value(env, toJavaString(env, text));
    if (env->ExceptionCheck())
        return;
    env->SetObjectArrayElement(array, i, value.get());
}

// What a sub-project call wrote back, into its String[]: the user (element
// 0), the aux project path and the resulting path (elements `aux`, `path`).
void setPathTexts(JNIEnv *env, jobjectArray texts, const ProjectPathTexts &out, jsize aux,
                  jsize path) {
    setElement(env, texts, 0, out.user.c_str());
    setElement(env, texts, aux, out.auxProjPath.c_str());
    setElement(env, texts, path, out.result.c_str());
}

bool hasLength(JNIEnv *env, jarray array, jsize least) {
    return array != nullptr && env->GetArrayLength(array) >= least;
}

// A Java receiver of a call's callbacks: its boolean method answers whether
// the provider goes on. Once the receiver has thrown, the provider is
// stopped and the exception kept for the native's return.
class JavaReceiver {
public:
    JavaReceiver(JNIEnv *env, jobject receiver, jmethodID method, PendingExceptions &pending)
        : env_(env), receiver_(receiver), method_(method), pending_(pending) {}

protected:
    // The method's answer for `args`; not called while an exception is pending.
    template <typename... Args> bool ask(Args... args) {
        jboolean goOn = JNI_FALSE;
        if (!env_->ExceptionCheck())
            goOn = env_->CallBooleanMethod(receiver_, method_, args...);
        if (pending_.take())
            stopped_ = true;
        return !stopped_ && goOn == JNI_TRUE;
    }
    JNIEnv *env_;
    bool stopped_ = false;

private:
    jobject receiver_;
    jmethodID method_;
    PendingExceptions &pending_;
};

class JavaChangeSink final : public ChangeSink, JavaReceiver {
public:
    using JavaReceiver::JavaReceiver;
    bool change(const char *name, int32_t changeType, const char *latest) noexcept override {
        if (stopped_)
            return false;
        LocalRef<jstring> jname(env_, toJavaString(env_, name));
        LocalRef<jstring> jlatest(env_, env_->ExceptionCheck() ? nullptr : toJavaString(env_, latest));
        return ask(jname.get(), jint{changeType}, jlatest.get());
    }
};

class JavaDirItemSink final : public DirItemSink, JavaReceiver {
public:
    using JavaReceiver::JavaReceiver;
    bool item(bool folder, const char *name) noexcept override {
        if (stopped_)
            return false;
        LocalRef<jstring> jname(env_, toJavaString(env_, name));
        return ask(folder ? JNI_TRUE : JNI_FALSE, jname.get());
    }
};

// The connection's rename receiver: a global reference, called on the thread
// of a provider call of the connection (a Java thread). What it throws is
// dropped, so that the provider call goes on.
class JavaNameChangeSink final : public NameChangeSink {
public:
    JavaNameChangeSink(JavaVM *vm, jobject target, jmethodID method)
        : vm_(vm), target_(target), method_(method) {}
    ~JavaNameChangeSink() override {
        if (JNIEnv *env = currentEnv())
            env->DeleteGlobalRef(target_);
    }
    JavaNameChangeSink(const JavaNameChangeSink &) = delete;
    JavaNameChangeSink &operator=(const JavaNameChangeSink &) = delete;

    void nameChanged(const char *oldName, const char *newName) noexcept override {
        JNIEnv *env = currentEnv();
        if (env == nullptr || env->ExceptionCheck())
            return;
        LocalRef<jstring> before(env, toJavaString(env, oldName));
        LocalRef<jstring> after(env, env->ExceptionCheck() ? nullptr : toJavaString(env, newName));
        if (!env->ExceptionCheck())
            env->CallVoidMethod(target_, method_, before.get(), after.get());
        if (env->ExceptionCheck())
            env->ExceptionClear();
    }

private:
    JNIEnv *currentEnv() const {
        void *env = nullptr;
        return vm_->GetEnv(&env, JNI_VERSION_1_6) == JNI_OK ? static_cast<JNIEnv *>(env) : nullptr;
    }
    JavaVM *vm_;
    jobject target_;
    jmethodID method_;
};

// The method `name` of the receiver's class, or null (with the error pending).
jmethodID receiverMethod(JNIEnv *env, jobject receiver, const char *name, const char *signature) {
    LocalRef<jclass> type(env, env->GetObjectClass(receiver));
    return env->GetMethodID(type.get(), name, signature);
}

// A provider's yes or no as element 0 of a boolean[].
void setFlag(JNIEnv *env, jbooleanArray array, SCCBOOL answer) {
    const jboolean value = answer != 0 ? JNI_TRUE : JNI_FALSE;
    env->SetBooleanArrayRegion(array, 0, 1, &value);
}

// The natives whose call hands its callbacks to a Java receiver (`Sink`,
// calling `method`): the receiver and its method must be there and every
// name valid.
template <typename Sink, typename Call>
jlong withReceiver(JNIEnv *env, jlong handle, jobjectArray names, jobject receiver,
                   const char *method, const char *signature, Call &&call) {
    return withObject(handle, [&](SccInterface &scc) -> jlong {
        if (receiver == nullptr)
            return kBadArgument;
        PendingExceptions pending(env);
        Names list(env, names);
        if (!list.valid)
            return kBadArgument;
        jmethodID id = receiverMethod(env, receiver, method, signature);
        if (id == nullptr)
            return kBadArgument;
        Sink sink(env, receiver, id, pending);
        return call(scc, list, sink);
    });
}

} // namespace

OSKEL_API_NATIVE(jlong, rename)(JNIEnv *env, jclass, jlong handle, jstring oldName,
                                jstring newName) {
    return withObject(handle, [&](SccInterface &scc) -> jlong {
        RequiredText before(env, oldName), after(env, newName);
        if (before.get() == nullptr || after.get() == nullptr)
            return kBadArgument;
        return scc.rename(before.get(), after.get());
    });
}

OSKEL_API_NATIVE(jlong, setOption)(JNIEnv *, jclass, jlong handle, jint option, jint value) {
    return withObject(handle, [&](SccInterface &scc) -> jlong {
        // User data and the name-change callback are the bridge's own.
        if (option == SCC_OPT_USERDATA || option == SCC_OPT_NAMECHANGEPFN)
            return kBadArgument;
        return scc.setOption(option, value);
    });
}

OSKEL_API_NATIVE(jlong, setNameChangeReceiver)(JNIEnv *env, jclass, jlong handle,
                                               jobject receiver) {
    return withObject(handle, [&](SccInterface &scc) -> jlong {
        std::unique_ptr<NameChangeSink> sink;
        if (receiver != nullptr) {
            jmethodID method = receiverMethod(env, receiver, "nameChanged",
                                              "(Ljava/lang/String;Ljava/lang/String;)V");
            JavaVM *vm = nullptr;
            if (method == nullptr || env->GetJavaVM(&vm) != JNI_OK)
                return kBadArgument; // NoSuchMethodError stays pending for the caller
            jobject target = env->NewGlobalRef(receiver);
            if (target == nullptr)
                return kCallFailed;
            sink.reset(new (std::nothrow) JavaNameChangeSink(vm, target, method));
            if (!sink) {
                env->DeleteGlobalRef(target);
                return kCallFailed;
            }
        }
        return scc.setNameChangeSink(std::move(sink));
    });
}

OSKEL_API_NATIVE(jlong, getEvents)(JNIEnv *env, jclass, jlong handle, jobjectArray name,
                                   jintArray values) {
    return withObject(handle, [&](SccInterface &scc) -> jlong {
        if (!hasLength(env, name, 1) || !hasLength(env, values, 2))
            return kBadArgument;
        std::string file;
        SCCLONG status = 0, remaining = 0;
        return writtenBack(scc.getEvents(file, status, remaining), [&] {
            setElement(env, name, 0, file.c_str());
            const jint words[2] = {status, remaining};
            env->SetIntArrayRegion(values, 0, 2, words);
        });
    });
}

OSKEL_API_NATIVE(jlong, getExtendedCapabilities)(JNIEnv *env, jclass, jlong handle,
                                                 jint capability, jbooleanArray supported) {
    return withObject(handle, [&](SccInterface &scc) -> jlong {
        if (!hasLength(env, supported, 1))
            return kBadArgument;
        SCCBOOL answer = 0;
        return writtenBack(scc.getExtendedCapabilities(capability, answer),
                           [&] { setFlag(env, supported, answer); });
    });
}

OSKEL_API_NATIVE(jlong, addFromScc)(JNIEnv *env, jclass, jlong handle, jstring destination,
                                    jobjectArray names) {
    return withObject(handle, [&](SccInterface &scc) -> jlong {
        if (!hasLength(env, names, 1))
            return kBadArgument;
        AnsiText folder(env, destination);
        if (destination != nullptr && folder.get() == nullptr)
            return kBadArgument;
        std::vector<std::string> added;
        return writtenBack(scc.addFromScc(folder.get(), added), [&] {
            LocalRef<jobjectArray> list(env, newStringArray(env, static_cast<jsize>(added.size())));
            if (!list)
                return;
            const text::LocaleTraits locale = text::currentLocale();
            for (size_t i = 0; i < added.size(); ++i) {
                LocalRef<jstring> text(env, toJavaString(env, locale, added[i].c_str()));
                if (env->ExceptionCheck())
                    return;
                env->SetObjectArrayElement(list.get(), static_cast<jsize>(i), text.get());
            }
            env->SetObjectArrayElement(names, 0, list.get());
        });
    });
}

OSKEL_API_NATIVE(jlong, getUserOption)(JNIEnv *env, jclass, jlong handle, jint option,
                                       jintArray value) {
    return withObject(handle, [&](SccInterface &scc) -> jlong {
        if (!hasLength(env, value, 1))
            return kBadArgument;
        SCCLONG answer = 0;
        return writtenBack(scc.getUserOption(option, answer), [&] {
            const jint word = answer;
            env->SetIntArrayRegion(value, 0, 1, &word);
        });
    });
}

OSKEL_API_NATIVE(jlong, beginBatch)(JNIEnv *, jclass, jlong handle) {
    return withObject(handle, [](SccInterface &scc) -> jlong { return scc.beginBatch(); });
}

OSKEL_API_NATIVE(jlong, endBatch)(JNIEnv *, jclass, jlong handle) {
    return withObject(handle, [](SccInterface &scc) -> jlong { return scc.endBatch(); });
}

// texts: user, parent project path, sub-project name, aux project path,
// sub-project path. The two paths in the middle must be given.
OSKEL_API_NATIVE(jlong, createSubProject)(JNIEnv *env, jclass, jlong handle, jobjectArray texts) {
    return withObject(handle, [&](SccInterface &scc) -> jlong {
        if (!hasLength(env, texts, 5))
            return kBadArgument;
        TextElements in(env, texts, 5);
        if (!in.converted() || in.get(1) == nullptr || in.get(2) == nullptr)
            return kBadArgument;
        ProjectPathTexts out;
        return writtenBack(
            scc.createSubProject(in.get(0), in.get(1), in.get(2), in.get(3), in.get(4), out),
            [&] { setPathTexts(env, texts, out, 3, 4); });
    });
}

// texts: user, project path, aux project path, parent project path. The
// project path must be given.
OSKEL_API_NATIVE(jlong, getParentProjectPath)(JNIEnv *env, jclass, jlong handle,
                                              jobjectArray texts) {
    return withObject(handle, [&](SccInterface &scc) -> jlong {
        if (!hasLength(env, texts, 4))
            return kBadArgument;
        TextElements in(env, texts, 4);
        if (!in.converted() || in.get(1) == nullptr)
            return kBadArgument;
        ProjectPathTexts out;
        return writtenBack(
            scc.getParentProjectPath(in.get(0), in.get(1), in.get(2), in.get(3), out),
            [&] { setPathTexts(env, texts, out, 2, 3); });
    });
}

namespace {
// A call that fills one status word per name: the words travel in (from the
// Java array, when `passIn`) and come back when the code is not an error.
template <typename Run>
jlong statusWords(JNIEnv *env, jlong handle, jobjectArray names, jintArray status, bool passIn,
                  Run &&run) {
    return withObject(handle, [&](SccInterface &scc) -> jlong {
        Names list(env, names);
        if (!list.valid || status == nullptr || env->GetArrayLength(status) != list.count())
            return kBadArgument;
        std::vector<SCCLONG> words(static_cast<size_t>(list.count()) + 1, 0);
        if (passIn)
            env->GetIntArrayRegion(status, 0, list.count(), reinterpret_cast<jint *>(words.data()));
        return writtenBack(run(scc, list.count(), list.texts.data(), words.data()), [&] {
            env->SetIntArrayRegion(status, 0, list.count(),
                                   reinterpret_cast<const jint *>(words.data()));
        });
    });
}
} // namespace

OSKEL_API_NATIVE(jlong, dirQueryInfo)(JNIEnv *env, jclass, jlong handle, jobjectArray dirs,
                                      jintArray status) {
    return statusWords(env, handle, dirs, status, true,
                       [](SccInterface &scc, int32_t n, const char **names, SCCLONG *words) {
                           return scc.dirQueryInfo(n, names, words);
                       });
}

OSKEL_API_NATIVE(jlong, queryInfo)(JNIEnv *env, jclass, jlong handle, jobjectArray names,
                                   jintArray status) {
    return statusWords(env, handle, names, status, false,
                       [](SccInterface &scc, int32_t n, const char **list, SCCLONG *words) {
                           return scc.queryInfo(n, list, words);
                       });
}

OSKEL_API_NATIVE(jintArray, commentLengths)(JNIEnv *env, jclass, jlong handle) {
    SccInterface *scc = object(handle);
    if (scc == nullptr)
        return nullptr;
    const jint lengths[2] = {scc->getCheckoutCommentLength(), scc->getCommentLength()};
    jintArray result = env->NewIntArray(2);
    if (result != nullptr)
        env->SetIntArrayRegion(result, 0, 2, lengths);
    return result;
}

OSKEL_API_NATIVE(jlong, dirDiff)(JNIEnv *env, jclass, jlong handle, jstring dir, jint flags) {
    return withObject(handle, [&](SccInterface &scc) -> jlong {
        RequiredText folder(env, dir);
        if (folder.get() == nullptr)
            return kBadArgument;
        return scc.dirDiff(folder.get(), flags);
    });
}

OSKEL_API_NATIVE(jlong, queryChanges)(JNIEnv *env, jclass, jlong handle, jobjectArray names,
                                      jobject receiver) {
    return withReceiver<JavaChangeSink>(
        env, handle, names, receiver, "change", "(Ljava/lang/String;ILjava/lang/String;)Z",
        [](SccInterface &scc, Names &list, JavaChangeSink &sink) -> jlong {
            return scc.queryChanges(list.count(), list.texts.data(), sink);
        });
}

OSKEL_API_NATIVE(jlong, populateDirList)(JNIEnv *env, jclass, jlong handle, jobjectArray dirs,
                                         jint options, jobject receiver) {
    return withReceiver<JavaDirItemSink>(
        env, handle, dirs, receiver, "item", "(ZLjava/lang/String;)Z",
        [&](SccInterface &scc, Names &list, JavaDirItemSink &sink) -> jlong {
            return scc.populateDirList(list.count(), list.texts.data(), options, sink);
        });
}

OSKEL_API_NATIVE(jlong, isMultiCheckoutEnabled)(JNIEnv *env, jclass, jlong handle,
                                                jbooleanArray enabled) {
    return withObject(handle, [&](SccInterface &scc) -> jlong {
        if (!hasLength(env, enabled, 1))
            return kBadArgument;
        SCCBOOL answer = 0;
        return writtenBack(scc.isMultiCheckoutEnabled(answer),
                           [&] { setFlag(env, enabled, answer); });
    });
}

OSKEL_API_NATIVE(jlong, willCreateSccFile)(JNIEnv *env, jclass, jlong handle, jobjectArray names,
                                           jbooleanArray sccFiles) {
    return withObject(handle, [&](SccInterface &scc) -> jlong {
        Names list(env, names);
        if (!list.valid || sccFiles == nullptr || env->GetArrayLength(sccFiles) != list.count())
            return kBadArgument;
        std::vector<SCCBOOL> answers(static_cast<size_t>(list.count()) + 1, 0);
        return writtenBack(scc.willCreateSccFile(list.count(), list.texts.data(), answers.data()),
                           [&] {
                               std::vector<jboolean> values(answers.size());
                               for (size_t i = 0; i < answers.size(); ++i)
                                   values[i] = answers[i] != 0 ? JNI_TRUE : JNI_FALSE;
                               env->SetBooleanArrayRegion(sccFiles, 0, list.count(), values.data());
                           });
    });
}

// Any thread, while a call of the connection runs elsewhere: the handle
// lookup takes no lock, and the request is one atomic store.
OSKEL_API_NATIVE(jboolean, cancel)(JNIEnv *, jclass, jlong handle) {
    return api::cancel(handle) ? JNI_TRUE : JNI_FALSE;
}
