// Natives of the typed Java API for the provider API's further entry points
// (com.vantrel.oskel.scc.internal.NativeBridge): convert, run one operation,
// write the outputs back when the provider's code is not an error.
#include <memory>
#include <string>
#include <vector>

#include "boundary/jni_text.h"
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

bool hasLength(JNIEnv *env, jarray array, jsize least) {
    return array != nullptr && env->GetArrayLength(array) >= least;
}

// The receivers of a call's callbacks: each stops the provider once the Java
// receiver has thrown, keeping the exception for the native's return.
class JavaChangeSink final : public ChangeSink {
public:
    JavaChangeSink(JNIEnv *env, jobject receiver, jmethodID method, PendingExceptions &pending)
        : env_(env), receiver_(receiver), method_(method), pending_(pending) {}
    bool change(const char *name, int32_t changeType, const char *latest) noexcept override {
        if (stopped_)
            return false;
        LocalRef<jstring> jname(env_, toJavaString(env_, name));
        LocalRef<jstring> jlatest(env_, env_->ExceptionCheck() ? nullptr : toJavaString(env_, latest));
        jboolean goOn = JNI_FALSE;
        if (!env_->ExceptionCheck())
            goOn = env_->CallBooleanMethod(receiver_, method_, jname.get(), jint{changeType},
                                           jlatest.get());
        if (pending_.take())
            stopped_ = true;
        return !stopped_ && goOn == JNI_TRUE;
    }

private:
    JNIEnv *env_;
    jobject receiver_;
    jmethodID method_;
    PendingExceptions &pending_;
    bool stopped_ = false;
};

class JavaDirItemSink final : public DirItemSink {
public:
    JavaDirItemSink(JNIEnv *env, jobject receiver, jmethodID method, PendingExceptions &pending)
        : env_(env), receiver_(receiver), method_(method), pending_(pending) {}
    bool item(bool folder, const char *name) noexcept override {
        if (stopped_)
            return false;
        LocalRef<jstring> jname(env_, toJavaString(env_, name));
        jboolean goOn = JNI_FALSE;
        if (!env_->ExceptionCheck())
            goOn = env_->CallBooleanMethod(receiver_, method_, folder ? JNI_TRUE : JNI_FALSE,
                                           jname.get());
        if (pending_.take())
            stopped_ = true;
        return !stopped_ && goOn == JNI_TRUE;
    }

private:
    JNIEnv *env_;
    jobject receiver_;
    jmethodID method_;
    PendingExceptions &pending_;
    bool stopped_ = false;
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

} // namespace

OSKEL_API_NATIVE(jlong, rename)(JNIEnv *env, jclass, jlong handle, jstring oldName,
                                jstring newName) {
    SccInterface *scc = object(handle);
    if (scc == nullptr)
        return kBadHandle;
    return guarded<jlong>(kCallFailed, [&]() -> jlong {
        RequiredText before(env, oldName), after(env, newName);
        if (before.get() == nullptr || after.get() == nullptr)
            return kBadArgument;
        return scc->rename(before.get(), after.get());
    });
}

OSKEL_API_NATIVE(jlong, setOption)(JNIEnv *, jclass, jlong handle, jint option, jint value) {
    SccInterface *scc = object(handle);
    if (scc == nullptr)
        return kBadHandle;
    // User data and the name-change callback are the bridge's own.
    if (option == SCC_OPT_USERDATA || option == SCC_OPT_NAMECHANGEPFN)
        return kBadArgument;
    return guarded<jlong>(kCallFailed, [&]() -> jlong { return scc->setOption(option, value); });
}

OSKEL_API_NATIVE(jlong, setNameChangeReceiver)(JNIEnv *env, jclass, jlong handle,
                                               jobject receiver) {
    SccInterface *scc = object(handle);
    if (scc == nullptr)
        return kBadHandle;
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
    return guarded<jlong>(kCallFailed, [&]() -> jlong { return scc->setNameChangeSink(std::move(sink)); });
}

OSKEL_API_NATIVE(jlong, getEvents)(JNIEnv *env, jclass, jlong handle, jobjectArray name,
                                   jintArray values) {
    SccInterface *scc = object(handle);
    if (scc == nullptr)
        return kBadHandle;
    if (!hasLength(env, name, 1) || !hasLength(env, values, 2))
        return kBadArgument;
    return guarded<jlong>(kCallFailed, [&]() -> jlong {
        std::string file;
        SCCLONG status = 0, remaining = 0;
        int32_t result = scc->getEvents(file, status, remaining);
        if (result >= 0) {
            setElement(env, name, 0, file.c_str());
            const jint words[2] = {status, remaining};
            env->SetIntArrayRegion(values, 0, 2, words);
        }
        return result;
    });
}

OSKEL_API_NATIVE(jlong, getExtendedCapabilities)(JNIEnv *env, jclass, jlong handle,
                                                 jint capability, jbooleanArray supported) {
    SccInterface *scc = object(handle);
    if (scc == nullptr)
        return kBadHandle;
    if (!hasLength(env, supported, 1))
        return kBadArgument;
    return guarded<jlong>(kCallFailed, [&]() -> jlong {
        SCCBOOL answer = 0;
        int32_t result = scc->getExtendedCapabilities(capability, answer);
        if (result >= 0) {
            const jboolean value = answer != 0 ? JNI_TRUE : JNI_FALSE;
            env->SetBooleanArrayRegion(supported, 0, 1, &value);
        }
        return result;
    });
}

OSKEL_API_NATIVE(jlong, addFromScc)(JNIEnv *env, jclass, jlong handle, jstring destination,
                                    jobjectArray names) {
    SccInterface *scc = object(handle);
    if (scc == nullptr)
        return kBadHandle;
    if (!hasLength(env, names, 1))
        return kBadArgument;
    return guarded<jlong>(kCallFailed, [&]() -> jlong {
        AnsiText folder(env, destination);
        if (destination != nullptr && folder.get() == nullptr)
            return kBadArgument;
        std::vector<std::string> added;
        int32_t result = scc->addFromScc(folder.get(), added);
        if (result >= 0) {
            LocalRef<jobjectArray> list(env, newStringArray(env, static_cast<jsize>(added.size())));
            if (!list)
                return result;
            const text::LocaleTraits locale = text::currentLocale();
            for (size_t i = 0; i < added.size(); ++i) {
                LocalRef<jstring> text(env, toJavaString(env, locale, added[i].c_str()));
                if (env->ExceptionCheck())
                    return result;
                env->SetObjectArrayElement(list.get(), static_cast<jsize>(i), text.get());
            }
            env->SetObjectArrayElement(names, 0, list.get());
        }
        return result;
    });
}

OSKEL_API_NATIVE(jlong, getUserOption)(JNIEnv *env, jclass, jlong handle, jint option,
                                       jintArray value) {
    SccInterface *scc = object(handle);
    if (scc == nullptr)
        return kBadHandle;
    if (!hasLength(env, value, 1))
        return kBadArgument;
    return guarded<jlong>(kCallFailed, [&]() -> jlong {
        SCCLONG answer = 0;
        int32_t result = scc->getUserOption(option, answer);
        if (result >= 0) {
            const jint word = answer;
            env->SetIntArrayRegion(value, 0, 1, &word);
        }
        return result;
    });
}

OSKEL_API_NATIVE(jlong, beginBatch)(JNIEnv *, jclass, jlong handle) {
    SccInterface *scc = object(handle);
    if (scc == nullptr)
        return kBadHandle;
    return guarded<jlong>(kCallFailed, [&]() -> jlong { return scc->beginBatch(); });
}

OSKEL_API_NATIVE(jlong, endBatch)(JNIEnv *, jclass, jlong handle) {
    SccInterface *scc = object(handle);
    if (scc == nullptr)
        return kBadHandle;
    return guarded<jlong>(kCallFailed, [&]() -> jlong { return scc->endBatch(); });
}

// texts: user, parent project path, sub-project name, aux project path,
// sub-project path. The two paths in the middle must be given.
OSKEL_API_NATIVE(jlong, createSubProject)(JNIEnv *env, jclass, jlong handle, jobjectArray texts) {
    SccInterface *scc = object(handle);
    if (scc == nullptr)
        return kBadHandle;
    if (!hasLength(env, texts, 5))
        return kBadArgument;
    return guarded<jlong>(kCallFailed, [&]() -> jlong {
        TextElements in(env, texts, 5);
        if (!in.converted() || in.get(1) == nullptr || in.get(2) == nullptr)
            return kBadArgument;
        ProjectPathTexts out;
        int32_t result =
            scc->createSubProject(in.get(0), in.get(1), in.get(2), in.get(3), in.get(4), out);
        if (result >= 0) {
            setElement(env, texts, 0, out.user.c_str());
            setElement(env, texts, 3, out.auxProjPath.c_str());
            setElement(env, texts, 4, out.result.c_str());
        }
        return result;
    });
}

// texts: user, project path, aux project path, parent project path. The
// project path must be given.
OSKEL_API_NATIVE(jlong, getParentProjectPath)(JNIEnv *env, jclass, jlong handle,
                                              jobjectArray texts) {
    SccInterface *scc = object(handle);
    if (scc == nullptr)
        return kBadHandle;
    if (!hasLength(env, texts, 4))
        return kBadArgument;
    return guarded<jlong>(kCallFailed, [&]() -> jlong {
        TextElements in(env, texts, 4);
        if (!in.converted() || in.get(1) == nullptr)
            return kBadArgument;
        ProjectPathTexts out;
        int32_t result = scc->getParentProjectPath(in.get(0), in.get(1), in.get(2), in.get(3), out);
        if (result >= 0) {
            setElement(env, texts, 0, out.user.c_str());
            setElement(env, texts, 2, out.auxProjPath.c_str());
            setElement(env, texts, 3, out.result.c_str());
        }
        return result;
    });
}

OSKEL_API_NATIVE(jlong, dirQueryInfo)(JNIEnv *env, jclass, jlong handle, jobjectArray dirs,
                                      jintArray status) {
    SccInterface *scc = object(handle);
    if (scc == nullptr)
        return kBadHandle;
    return guarded<jlong>(kCallFailed, [&]() -> jlong {
        Names list(env, dirs);
        if (!list.valid || status == nullptr || env->GetArrayLength(status) != list.count())
            return kBadArgument;
        std::vector<SCCLONG> words(static_cast<size_t>(list.count()) + 1, 0);
        env->GetIntArrayRegion(status, 0, list.count(), reinterpret_cast<jint *>(words.data()));
        int32_t result = scc->dirQueryInfo(list.count(), list.texts.data(), words.data());
        if (result >= 0)
            env->SetIntArrayRegion(status, 0, list.count(), reinterpret_cast<const jint *>(words.data()));
        return result;
    });
}

OSKEL_API_NATIVE(jlong, dirDiff)(JNIEnv *env, jclass, jlong handle, jstring dir, jint flags) {
    SccInterface *scc = object(handle);
    if (scc == nullptr)
        return kBadHandle;
    return guarded<jlong>(kCallFailed, [&]() -> jlong {
        RequiredText folder(env, dir);
        if (folder.get() == nullptr)
            return kBadArgument;
        return scc->dirDiff(folder.get(), flags);
    });
}

OSKEL_API_NATIVE(jlong, queryChanges)(JNIEnv *env, jclass, jlong handle, jobjectArray names,
                                      jobject receiver) {
    SccInterface *scc = object(handle);
    if (scc == nullptr)
        return kBadHandle;
    if (receiver == nullptr)
        return kBadArgument;
    PendingExceptions pending(env);
    return guarded<jlong>(kCallFailed, [&]() -> jlong {
        Names list(env, names);
        if (!list.valid)
            return kBadArgument;
        jmethodID method = receiverMethod(env, receiver, "change",
                                          "(Ljava/lang/String;ILjava/lang/String;)Z");
        if (method == nullptr)
            return kBadArgument;
        JavaChangeSink sink(env, receiver, method, pending);
        return scc->queryChanges(list.count(), list.texts.data(), sink);
    });
}

OSKEL_API_NATIVE(jlong, populateDirList)(JNIEnv *env, jclass, jlong handle, jobjectArray dirs,
                                         jint options, jobject receiver) {
    SccInterface *scc = object(handle);
    if (scc == nullptr)
        return kBadHandle;
    if (receiver == nullptr)
        return kBadArgument;
    PendingExceptions pending(env);
    return guarded<jlong>(kCallFailed, [&]() -> jlong {
        Names list(env, dirs);
        if (!list.valid)
            return kBadArgument;
        jmethodID method = receiverMethod(env, receiver, "item", "(ZLjava/lang/String;)Z");
        if (method == nullptr)
            return kBadArgument;
        JavaDirItemSink sink(env, receiver, method, pending);
        return scc->populateDirList(list.count(), list.texts.data(), options, sink);
    });
}

OSKEL_API_NATIVE(jlong, isMultiCheckoutEnabled)(JNIEnv *env, jclass, jlong handle,
                                                jbooleanArray enabled) {
    SccInterface *scc = object(handle);
    if (scc == nullptr)
        return kBadHandle;
    if (!hasLength(env, enabled, 1))
        return kBadArgument;
    return guarded<jlong>(kCallFailed, [&]() -> jlong {
        SCCBOOL answer = 0;
        int32_t result = scc->isMultiCheckoutEnabled(answer);
        if (result >= 0) {
            const jboolean value = answer != 0 ? JNI_TRUE : JNI_FALSE;
            env->SetBooleanArrayRegion(enabled, 0, 1, &value);
        }
        return result;
    });
}

OSKEL_API_NATIVE(jlong, willCreateSccFile)(JNIEnv *env, jclass, jlong handle, jobjectArray names,
                                           jbooleanArray sccFiles) {
    SccInterface *scc = object(handle);
    if (scc == nullptr)
        return kBadHandle;
    return guarded<jlong>(kCallFailed, [&]() -> jlong {
        Names list(env, names);
        if (!list.valid || sccFiles == nullptr || env->GetArrayLength(sccFiles) != list.count())
            return kBadArgument;
        std::vector<SCCBOOL> answers(static_cast<size_t>(list.count()) + 1, 0);
        int32_t result = scc->willCreateSccFile(list.count(), list.texts.data(), answers.data());
        if (result >= 0) {
            std::vector<jboolean> values(answers.size());
            for (size_t i = 0; i < answers.size(); ++i)
                values[i] = answers[i] != 0 ? JNI_TRUE : JNI_FALSE;
            env->SetBooleanArrayRegion(sccFiles, 0, list.count(), values.data());
        }
        return result;
    });
}

// Any thread, while a call of the connection runs elsewhere: the handle
// lookup takes no lock, and the request is one atomic store.
OSKEL_API_NATIVE(jboolean, cancel)(JNIEnv *, jclass, jlong handle) {
    SccInterface *scc = object(handle);
    if (scc == nullptr)
        return JNI_FALSE;
    scc->cancel();
    return JNI_TRUE;
}
