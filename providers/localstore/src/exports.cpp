// The exported SCC API entry points. Each checks its context, runs one member
// of the Provider, and turns anything thrown (memory exhausted, above all)
// into an SCC result code: no exception leaves the library.
#include "provider.h"

#include <cstring>
#include <new>
#include <type_traits>

using localstore::Provider;

namespace {

Provider *providerOf(void *context) {
    return static_cast<Provider *>(context);
}

template <typename Body>
SCCRTN guarded(void *context, Body body) {
    Provider *provider = providerOf(context);
    if (!provider) {
        return SCC_E_PROJNOTOPEN;
    }
    try {
        return body(*provider);
    } catch (const std::bad_alloc &) {
        provider->message(SCC_MSG_ERROR, "Out of memory.");
        return SCC_E_NONSPECIFICERROR;
    } catch (const std::exception &error) {
        provider->message(SCC_MSG_ERROR, std::string("Unexpected failure: ") + error.what());
        return SCC_E_NONSPECIFICERROR;
    } catch (...) {
        return SCC_E_NONSPECIFICERROR;
    }
}

void copyText(char *buffer, const char *text) {
    if (buffer) {
        std::strcpy(buffer, text);
    }
}

} // namespace

extern "C" {

SCC_EXPORT SCCRTN SCC_CALL SccInitialize(void **context, SCCHWND, const char *callerName, char *sccName,
                                         SCCLONG *capabilities, char *auxPathLabel, SCCLONG *checkoutCommentLen,
                                         SCCLONG *commentLen) {
    if (!context) {
        return SCC_E_INITIALIZEFAILED;
    }
    *context = nullptr;
    try {
        *context = new Provider(callerName);
    } catch (...) {
        return SCC_E_INITIALIZEFAILED;
    }
    copyText(sccName, localstore::kProviderName);
    copyText(auxPathLabel, localstore::kAuxPathLabel);
    if (capabilities) {
        *capabilities = localstore::kCapabilities;
    }
    if (checkoutCommentLen) {
        *checkoutCommentLen = localstore::kCommentLength;
    }
    if (commentLen) {
        *commentLen = localstore::kCommentLength;
    }
    return SCC_OK;
}

SCC_EXPORT SCCRTN SCC_CALL SccUninitialize(void *context) {
    delete providerOf(context);
    return SCC_OK;
}

SCC_EXPORT SCCLONG SCC_CALL SccGetVersion(void) {
    return localstore::kVersion;
}

SCC_EXPORT SCCRTN SCC_CALL SccOpenProject(void *context, SCCHWND, char *user, char *projectName,
                                          const char *localProjPath, char *auxProjPath, const char *comment,
                                          LPTEXTOUTPROC textOut, SCCLONG flags) {
    if (!context) {
        return SCC_E_NONSPECIFICERROR;
    }
    return guarded(context, [&](Provider &p) {
        return p.openProject(user, projectName, localProjPath, auxProjPath, comment, textOut, flags);
    });
}

SCC_EXPORT SCCRTN SCC_CALL SccCloseProject(void *context) {
    return guarded(context, [&](Provider &p) { return p.closeProject(); });
}

SCC_EXPORT SCCRTN SCC_CALL SccGetProjPath(void *context, SCCHWND, char *user, char *projectName, char *localPath,
                                          char *auxProjPath, SCCBOOL allowChangePath, SCCBOOL *isNew) {
    if (!context) {
        return SCC_E_NONSPECIFICERROR;
    }
    return guarded(context, [&](Provider &p) {
        return p.getProjPath(user, projectName, localPath, auxProjPath, allowChangePath, isNew);
    });
}

SCC_EXPORT SCCRTN SCC_CALL SccGet(void *context, SCCHWND, SCCLONG count, const char **names, SCCLONG,
                                  SCCCMDOPTS) {
    return guarded(context, [&](Provider &p) { return p.get(count, names); });
}

SCC_EXPORT SCCRTN SCC_CALL SccCheckout(void *context, SCCHWND, SCCLONG count, const char **names,
                                       const char *comment, SCCLONG, SCCCMDOPTS) {
    return guarded(context, [&](Provider &p) { return p.checkout(count, names, comment); });
}

SCC_EXPORT SCCRTN SCC_CALL SccCheckin(void *context, SCCHWND, SCCLONG count, const char **names,
                                      const char *comment, SCCLONG flags, SCCCMDOPTS) {
    return guarded(context, [&](Provider &p) { return p.checkin(count, names, comment, flags); });
}

SCC_EXPORT SCCRTN SCC_CALL SccUncheckout(void *context, SCCHWND, SCCLONG count, const char **names, SCCLONG,
                                         SCCCMDOPTS) {
    return guarded(context, [&](Provider &p) { return p.uncheckout(count, names); });
}

SCC_EXPORT SCCRTN SCC_CALL SccAdd(void *context, SCCHWND, SCCLONG count, const char **names, const char *comment,
                                  SCCLONG *flags, SCCCMDOPTS) {
    return guarded(context, [&](Provider &p) { return p.add(count, names, comment, flags); });
}

SCC_EXPORT SCCRTN SCC_CALL SccRemove(void *context, SCCHWND, SCCLONG count, const char **names,
                                     const char *comment, SCCLONG, SCCCMDOPTS) {
    return guarded(context, [&](Provider &p) { return p.remove(count, names, comment); });
}

SCC_EXPORT SCCRTN SCC_CALL SccDiff(void *context, SCCHWND, const char *name, SCCLONG flags, SCCCMDOPTS) {
    return guarded(context, [&](Provider &p) { return p.diff(name, flags); });
}

SCC_EXPORT SCCRTN SCC_CALL SccHistory(void *context, SCCHWND, SCCLONG count, const char **names, SCCLONG,
                                      SCCCMDOPTS) {
    return guarded(context, [&](Provider &p) { return p.history(count, names); });
}

SCC_EXPORT SCCRTN SCC_CALL SccProperties(void *context, SCCHWND, const char *name) {
    return guarded(context, [&](Provider &p) { return p.properties(name); });
}

SCC_EXPORT SCCRTN SCC_CALL SccQueryInfo(void *context, SCCLONG count, const char **names, SCCLONG *status) {
    return guarded(context, [&](Provider &p) { return p.queryInfo(count, names, status); });
}

SCC_EXPORT SCCRTN SCC_CALL SccRunScc(void *context, SCCHWND, SCCLONG count, const char **names) {
    return guarded(context, [&](Provider &p) { return p.runScc(count, names); });
}

SCC_EXPORT SCCRTN SCC_CALL SccGetCommandOptions(void *, SCCHWND, enum SCCCOMMAND, SCCCMDOPTS *) {
    return SCC_E_OPNOTSUPPORTED;  // no command has options
}

SCC_EXPORT SCCRTN SCC_CALL SccPopulateList(void *context, enum SCCCOMMAND command, SCCLONG count,
                                           const char **names, POPLISTFUNC populate, void *callerData,
                                           SCCLONG *status, SCCLONG flags) {
    return guarded(context, [&](Provider &p) {
        return p.populateList(static_cast<int>(command), count, names, populate, callerData, status, flags);
    });
}

SCC_EXPORT SCCRTN SCC_CALL SccRename(void *context, SCCHWND, const char *fileName, const char *newName) {
    return guarded(context, [&](Provider &p) { return p.rename(fileName, newName); });
}

SCC_EXPORT SCCRTN SCC_CALL SccSetOption(void *context, SCCLONG option, SCCOPTVALUE value) {
    if (!context) {
        return SCC_E_NONSPECIFICERROR;
    }
    return guarded(context, [&](Provider &p) { return p.setOption(option, value); });
}

SCC_EXPORT SCCRTN SCC_CALL SccGetEvents(void *context, char *fileName, SCCLONG *status, SCCLONG *eventsRemaining) {
    if (!context) {
        return SCC_E_NONSPECIFICERROR;
    }
    return guarded(context, [&](Provider &p) { return p.getEvents(fileName, status, eventsRemaining); });
}

SCC_EXPORT SCCRTN SCC_CALL SccGetExtendedCapabilities(void *context, SCCLONG capability, SCCBOOL *supported) {
    if (!context) {
        return SCC_E_NONSPECIFICERROR;
    }
    return guarded(context, [&](Provider &p) { return p.extendedCapability(capability, supported); });
}

SCC_EXPORT SCCRTN SCC_CALL SccAddFromScc(void *context, SCCHWND, SCCLONG *count, const char ***names) {
    return guarded(context, [&](Provider &p) { return p.addFromScc(count, names); });
}

SCC_EXPORT SCCRTN SCC_CALL SccGetUserOption(void *context, SCCLONG option, SCCLONG *value) {
    return guarded(context, [&](Provider &p) { return p.userOption(option, value); });
}

SCC_EXPORT SCCRTN SCC_CALL SccBeginBatch(void) {
    try {
        return localstore::beginBatch();
    } catch (...) {
        return SCC_E_UNKNOWNERROR;
    }
}

SCC_EXPORT SCCRTN SCC_CALL SccEndBatch(void) {
    try {
        return localstore::endBatch();
    } catch (...) {
        return SCC_E_UNKNOWNERROR;
    }
}

SCC_EXPORT SCCRTN SCC_CALL SccCreateSubProject(void *context, SCCHWND, char *user, const char *parentProjPath,
                                               const char *subProjName, char *auxProjPath, char *subProjPath) {
    if (!context) {
        return SCC_E_NONSPECIFICERROR;
    }
    return guarded(context, [&](Provider &p) {
        return p.createSubProject(user, parentProjPath, subProjName, auxProjPath, subProjPath);
    });
}

SCC_EXPORT SCCRTN SCC_CALL SccGetParentProjectPath(void *context, SCCHWND, char *user, const char *projPath,
                                                   char *auxProjPath, char *parentProjPath) {
    if (!context) {
        return SCC_E_NONSPECIFICERROR;
    }
    return guarded(context,
                   [&](Provider &p) { return p.parentProjectPath(user, projPath, auxProjPath, parentProjPath); });
}

SCC_EXPORT SCCRTN SCC_CALL SccDirQueryInfo(void *context, SCCLONG count, const char **dirs, SCCLONG *status) {
    return guarded(context, [&](Provider &p) { return p.dirQueryInfo(count, dirs, status); });
}

SCC_EXPORT SCCRTN SCC_CALL SccDirDiff(void *context, SCCHWND, const char *dir, SCCLONG flags, SCCCMDOPTS) {
    return guarded(context, [&](Provider &p) { return p.dirDiff(dir, flags); });
}

SCC_EXPORT SCCRTN SCC_CALL SccQueryChanges(void *context, SCCLONG count, const char **names,
                                           QUERYCHANGESFUNC callback, void *callerData) {
    return guarded(context, [&](Provider &p) { return p.queryChanges(count, names, callback, callerData); });
}

SCC_EXPORT SCCRTN SCC_CALL SccPopulateDirList(void *context, SCCLONG count, const char **dirs,
                                              POPDIRLISTFUNC callback, void *callerData, SCCLONG options) {
    return guarded(context,
                   [&](Provider &p) { return p.populateDirList(count, dirs, callback, callerData, options); });
}

SCC_EXPORT SCCRTN SCC_CALL SccIsMultiCheckoutEnabled(void *context, SCCBOOL *multiCheckout) {
    return guarded(context, [&](Provider &p) { return p.multiCheckoutEnabled(multiCheckout); });
}

SCC_EXPORT SCCRTN SCC_CALL SccWillCreateSccFile(void *context, SCCLONG count, const char **names,
                                                SCCBOOL *sccFiles) {
    if (!context) {
        return SCC_E_NONSPECIFICERROR;
    }
    return guarded(context, [&](Provider &p) { return p.willCreateSccFile(count, names, sccFiles); });
}

} // extern "C"

// Every export has exactly the type the callers look it up as.
static_assert(std::is_same_v<decltype(&SccRename), SccRenameFn>);
static_assert(std::is_same_v<decltype(&SccSetOption), SccSetOptionFn>);
static_assert(std::is_same_v<decltype(&SccGetEvents), SccGetEventsFn>);
static_assert(std::is_same_v<decltype(&SccGetExtendedCapabilities), SccGetExtendedCapabilitiesFn>);
static_assert(std::is_same_v<decltype(&SccAddFromScc), SccAddFromSccFn>);
static_assert(std::is_same_v<decltype(&SccGetUserOption), SccGetUserOptionFn>);
static_assert(std::is_same_v<decltype(&SccBeginBatch), SccBeginBatchFn>);
static_assert(std::is_same_v<decltype(&SccEndBatch), SccEndBatchFn>);
static_assert(std::is_same_v<decltype(&SccCreateSubProject), SccCreateSubProjectFn>);
static_assert(std::is_same_v<decltype(&SccGetParentProjectPath), SccGetParentProjectPathFn>);
static_assert(std::is_same_v<decltype(&SccDirQueryInfo), SccDirQueryInfoFn>);
static_assert(std::is_same_v<decltype(&SccDirDiff), SccDirDiffFn>);
static_assert(std::is_same_v<decltype(&SccQueryChanges), SccQueryChangesFn>);
static_assert(std::is_same_v<decltype(&SccPopulateDirList), SccPopulateDirListFn>);
static_assert(std::is_same_v<decltype(&SccIsMultiCheckoutEnabled), SccIsMultiCheckoutEnabledFn>);
static_assert(std::is_same_v<decltype(&SccWillCreateSccFile), SccWillCreateSccFileFn>);
