// A Java VM just large enough to run the natives of oskelsccih without Java:
// it loads the library the way a JVM does (LoadLibrary or dlopen, each native
// found by its JNI name) and hands the natives a JNIEnv of its own. Strings
// are UTF-16, String[] and int[] are arrays, a project descriptor is an
// object whose class has the descriptor's methods. The JNIEnv checks what a
// JVM with -Xcheck:jni checks (dead or foreign references, a JNI call with an
// exception pending, invalid modified UTF-8, unreleased UTF copies, too many
// local references) and every JNI function it does not implement stops the
// program at once, naming the function.
//
// One VM at a time, used from one thread.
#pragma once

#include <jni.h>

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace oskel::jnihost {

struct Object;

// A project descriptor's state. Texts are UTF-8; nullopt is a Java null.
struct Descriptor {
    using Text = std::optional<std::string>;
    Text user, projectName, localPath, auxProjPath, reGetLocalPath;
    std::set<std::string> missing;  // methods its class lacks
    std::set<std::string> throwing; // methods that throw a RuntimeException
    std::vector<std::string> calls; // methods called, in order
};

using Strings = std::vector<std::optional<std::string>>;

class Vm {
public:
    Vm();
    ~Vm();
    Vm(const Vm &) = delete;
    Vm &operator=(const Vm &) = delete;

    // Loads the library and finds all 28 natives; false (see error()) when
    // the library or a native is missing.
    bool load(const std::string &path);
    const std::string &error() const { return error_; }

    // Objects for the natives' arguments, kept for the VM's lifetime.
    Object *string(std::string_view utf8);
    Object *stringArray(const Strings &elements);
    Object *descriptor(Descriptor &state);

    // Results as the test reads them; nullopt for a null reference.
    static std::optional<std::string> text(const Object *string);
    static std::optional<Strings> strings(const Object *array);
    static std::optional<std::vector<int>> ints(const Object *array);

    // The exception the last native left pending ("java/lang/NoSuchMethodError:
    // getUser"), "" for none.
    const std::string &thrown() const { return thrown_; }
    // Problems that did not stop the program (an unreleased UTF copy, too
    // many local references), across all natives run.
    const std::vector<std::string> &problems() const { return problems_; }

    // The natives, one wrapper each: arguments become local references of a
    // frame of their own, results are read before the frame ends.
    jlong initialize(Object *providerKey);
    jlong uninitialize(jlong handle);
    jlong getVersion(jlong handle);
    Object *getSCCName(jlong handle);
    jlong getCapabilities(jlong handle);
    void setTracing(jlong handle, jint level, Object *path);
    Object *getProviders();
    Object *getProviderKey(Object *providerName);
    Object *getErrList(jlong handle);
    jlong openProject(jlong handle, Object *descriptor);
    jlong closeProject(jlong handle);
    jlong getProjPath(jlong handle, Object *descriptor, bool allowChangePath, bool allowNew);
    jlong reGetProjPath(jlong handle, Object *descriptor, Object *user, Object *localPath,
                        bool allowChangePath, bool allowNew);
    jlong getFiles(jlong handle, jlong count, Object *files);
    jlong checkout(jlong handle, jlong count, Object *files, Object *comment);
    jlong checkin(jlong handle, jlong count, Object *files, Object *comment);
    jlong uncheckout(jlong handle, jlong count, Object *files);
    jlong add(jlong handle, jlong count, Object *files, Object *comment);
    jlong remove(jlong handle, jlong count, Object *files, Object *comment);
    jlong history(jlong handle, jlong count, Object *files);
    jlong diff(jlong handle, Object *file);
    jlong properties(jlong handle, Object *file);
    Object *queryInfo(jlong handle, jlong count, Object *files);
    jlong runScc(jlong handle, jlong count, Object *files);
    jlong getCommandOptions(jlong handle, jlong command);
    jlong checkCommandOptions(jlong handle, jlong command);
    jlong populateList(jlong handle, jlong command, jlong count, Object *files);
    Object *getPopulateList(jlong handle, jlong which);

    // For the JNI functions (vm.cpp).
    struct Impl;

private:
    class Frame;
    std::unique_ptr<Impl> impl_;
    std::string error_;
    std::string thrown_;
    std::vector<std::string> problems_;
};

// UTF-8 and UTF-16, for the tests.
std::u16string utf16(std::string_view utf8);
std::string utf8(std::u16string_view units);

} // namespace oskel::jnihost
