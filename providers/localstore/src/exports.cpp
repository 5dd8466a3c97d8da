// The exported SCC API entry points. Each checks its context, runs one member
// of the Provider, and turns anything thrown (memory exhausted, above all)
// into an SCC result code: no exception leaves the library.
#include "provider.h"

#include <cstring>
#include <new>

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

} // extern "C"
