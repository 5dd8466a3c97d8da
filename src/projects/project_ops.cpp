// Project operations of the interface object: open, path query, close, and the
// copies of the project texts between the object and a caller's buffers.
#include <cstring>
#include <memory>
#include <string>

#include "core/SccInterface.h"
#include "core/provider_calls.h"
#include "messages/messages.h"

namespace oskel {

namespace {

// Provider-facing copies of the project texts, each with room to spare so that
// a provider writing past the API's sizes overruns nothing of ours.
constexpr size_t kScratchText = kProjectScratchSize;
struct ScratchTexts {
    char user[kScratchText] = {};
    char projectName[kScratchText] = {};
    char localPath[kScratchText] = {};
    char auxProjPath[kScratchText] = {};
};

template <size_t N> void copyInto(char (&dst)[N], const char *src) {
    size_t n = strnlen(src, N - 1);
    std::memcpy(dst, src, n);
    dst[n] = '\0';
}

void fill(ScratchTexts &s, const ProjectTexts &t) {
    copyInto(s.user, t.user);
    copyInto(s.projectName, t.projectName);
    copyInto(s.localPath, t.localPath);
    copyInto(s.auxProjPath, t.auxProjPath);
}

void drain(ProjectTexts &t, ScratchTexts &s) {
    s.user[kScratchText - 1] = s.projectName[kScratchText - 1] = '\0';
    s.localPath[kScratchText - 1] = s.auxProjPath[kScratchText - 1] = '\0';
    copyInto(t.user, s.user);
    copyInto(t.projectName, s.projectName);
    copyInto(t.localPath, s.localPath);
    copyInto(t.auxProjPath, s.auxProjPath);
}

// Where the provider reads and writes the texts, in their travelling order.
struct TextBuffers {
    explicit TextBuffers(ScratchTexts &s) : texts{s.user, s.projectName, s.localPath, s.auxProjPath} {}
    char *const texts[4];
};

} // namespace

int32_t SccInterface::openProject(const char *user, const char *projectName,
                                  const char *localPath, const char *auxProjPath, int32_t flags) {
    trace("-->Open Project(with parameter)", 1);
    if (traceLevel() > 1) {
        std::string line = "user:";
        line.append(user).append("\tproject name:").append(projectName);
        line.append("\tproject path:").append(localPath).append("\taux path:").append(auxProjPath);
        traceLine(line.c_str());
    }
    copyInto(project.texts.user, user);
    copyInto(project.texts.localPath, localPath);
    copyInto(project.texts.projectName, projectName);
    copyInto(project.texts.auxProjPath, auxProjPath);

    int32_t result = kNoEntryPoint;
    auto scratch = std::make_unique<ScratchTexts>();
    fill(*scratch, project.texts);
    ProviderCall call = calls::openProject(TextBuffers(*scratch).texts, "",
                                           messages::textOutFor(providerLibrary()), flags);
    CallOutcome outcome = callProvider(call);
    if (!outcome.missing) {
        result = outcome.code;
        drain(project.texts, *scratch);
        if (result == SCC_OK)
            project.projectOpen = 1;
    }
    trace("<--Open Project(with parameter)", 1);
    return result;
}

void SccInterface::traceProjectTexts(const ProjectTexts &t) const {
    std::string line = "user:";
    line.append(t.user).append("\tproject:").append(t.projectName);
    line.append("\tpath:").append(t.localPath).append("\taux").append(t.auxProjPath);
    traceLine(line.c_str());
}

int32_t SccInterface::getProjectPath(ProjectTexts &texts, int32_t allowChangePath,
                                     int32_t allowNewFlag) {
    project.allowNew = allowNewFlag;
    trace("-->GetProjectPath", 1);
    const std::string flags = "allowChangePath:" + std::to_string(allowChangePath) +
                              "\tallowNew:" + std::to_string(allowNewFlag);
    if (traceLevel() > 1)
        traceLine(flags.c_str());
    if (traceLevel() > 3)
        traceProjectTexts(texts);

    int32_t result = kNoEntryPoint;
    auto scratch = std::make_unique<ScratchTexts>();
    fill(*scratch, texts);
    ProviderCall call =
        calls::projectPath(TextBuffers(*scratch).texts, allowChangePath, &project.allowNew);
    CallOutcome outcome = callProvider(call);
    if (!outcome.missing) {
        result = outcome.code;
        drain(texts, *scratch);
    }
    if (traceLevel() > 1)
        traceLine(flags.c_str());
    if (traceLevel() > 3)
        traceProjectTexts(texts);
    trace("<--GetProjectPath", 1);
    return result;
}

int32_t SccInterface::closeProject() {
    trace("-->close project", 1);
    int32_t result = kNoEntryPoint;
    ProviderCall call = calls::plain(EntryPoint::CloseProject);
    CallOutcome outcome = callProvider(call);
    if (!outcome.missing) {
        result = outcome.code;
        if (result == SCC_OK)
            project.projectOpen = 0;
    }
    trace("<--close project", 1);
    return result;
}

void SccInterface::returnProjectPath(ProjectTexts &texts) const {
    trace("-->Return project path", 3);
    if (traceLevel() > 3)
        traceLine("Returning input parameter");
    texts = project.texts;
    trace("<--Return project path", 3);
}

void SccInterface::resetProjectPath(const ProjectTexts &texts) {
    trace("-->Resetting project path", 3);
    if (traceLevel() > 3)
        traceLine("Resetting input parameter");
    project.texts = texts;
    trace("<--Resetting project path", 3);
}

} // namespace oskel
