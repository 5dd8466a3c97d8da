// The provider calls the interface object makes, one builder per kind of call:
// each takes what that kind of call passes and leaves every other slot of the
// record as it starts (zero, null). The connection's context is not among
// them: SccInterface::callProvider adds it to every call.
#pragma once

#include <cstdint>

#include "core/provider.h"

namespace oskel::calls {

// SccInitialize: the outputs it writes (the context, the name and aux label
// into buffers of kInitScratchSize bytes, the capabilities and the comment
// lengths) and the caller name it is told.
inline ProviderCall initialize(uint64_t *contextOut, const char *callerName, char *sccName,
                               char *auxLabel, SCCLONG *capabilities,
                               SCCLONG *checkoutCommentLen, SCCLONG *commentLen) {
    ProviderCall c;
    c.entry = EntryPoint::Initialize;
    c.contextOut = contextOut;
    c.callerName = callerName;
    c.sccName = sccName;
    c.auxLabel = auxLabel;
    c.capabilities = capabilities;
    c.checkoutCommentLen = checkoutCommentLen;
    c.commentLen = commentLen;
    return c;
}

// An entry point that takes the context alone, or nothing (SccUninitialize,
// SccCloseProject, SccGetVersion).
inline ProviderCall plain(EntryPoint entry) {
    ProviderCall c;
    c.entry = entry;
    return c;
}

// SccOpenProject: the four project texts (buffers of kProjectScratchSize
// bytes, read and written), the comment, the text-out callback and the flags.
inline ProviderCall openProject(char *const (&texts)[4], const char *comment,
                                LPTEXTOUTPROC textOut, int32_t flags) {
    ProviderCall c;
    c.entry = EntryPoint::OpenProject;
    for (int i = 0; i < 4; ++i)
        c.projectTexts[i] = texts[i];
    c.projectComment = comment;
    c.textOut = textOut;
    c.flags = flags;
    return c;
}

// SccGetProjPath: the four project texts as for SccOpenProject, whether the
// path may change, and the new-project flag (in/out).
inline ProviderCall projectPath(char *const (&texts)[4], int32_t allowChangePath,
                                SCCBOOL *allowNew) {
    ProviderCall c;
    c.entry = EntryPoint::GetProjPath;
    for (int i = 0; i < 4; ++i)
        c.projectTexts[i] = texts[i];
    c.flags = allowChangePath;
    c.allowNew = allowNew;
    return c;
}

// A file command: `count` names (a single-file command: one), and what its
// entry point takes of the comment, the flags, the per-file words (add flags
// or status words, in/out) and the option slot's value.
inline ProviderCall fileCommand(EntryPoint entry, int32_t count, const char **names,
                                const char *comment, int32_t flags, SCCLONG *perFile,
                                uint64_t option) {
    ProviderCall c;
    c.entry = entry;
    c.count = count;
    c.names = names;
    c.comment = comment;
    c.flags = flags;
    c.perFile = perFile;
    c.option = option;
    return c;
}

// SccGetCommandOptions for `command`: with the slot to read and write, or
// with none (only asks whether the provider has options for it).
inline ProviderCall commandOptions(int32_t command, uint64_t *slot) {
    ProviderCall c;
    c.entry = EntryPoint::GetCommandOptions;
    c.command = command;
    c.optionSlot = slot;
    return c;
}

// SccPopulateList: the command, the names and their status words (in/out),
// the options, and the callback with its caller data.
inline ProviderCall populateList(int32_t command, int32_t count, const char **names,
                                 SCCLONG *status, int32_t options, POPLISTFUNC populate,
                                 void *callerData) {
    ProviderCall c;
    c.entry = EntryPoint::PopulateList;
    c.command = command;
    c.count = count;
    c.names = names;
    c.perFile = status;
    c.flags = options;
    c.populate = populate;
    c.callerData = callerData;
    return c;
}

} // namespace oskel::calls
