/* A provider that does nothing and returns at once: what the benchmark
 * measures is the bridge around it. */
#include "oskelsccih/scc_api.h"

#include <string.h>

static int token;

SCC_EXPORT SCCRTN SCC_CALL SccInitialize(void **context, SCCHWND window, const char *caller,
                                         char *name, SCCLONG *caps, char *label,
                                         SCCLONG *checkoutCommentLen, SCCLONG *commentLen) {
    (void)window; (void)caller;
    *context = &token;
    strcpy(name, "No-op");
    *caps = -1;
    strcpy(label, "Nothing");
    *checkoutCommentLen = *commentLen = 100;
    return SCC_OK;
}
SCC_EXPORT SCCRTN SCC_CALL SccUninitialize(void *context) { (void)context; return SCC_OK; }
SCC_EXPORT SCCLONG SCC_CALL SccGetVersion(void) { return 0x10000; }
SCC_EXPORT SCCRTN SCC_CALL SccOpenProject(void *c, SCCHWND w, char *u, char *p, const char *l,
                                          char *a, const char *cm, LPTEXTOUTPROC t, SCCLONG f) {
    (void)c; (void)w; (void)u; (void)p; (void)l; (void)a; (void)cm; (void)t; (void)f;
    return SCC_OK;
}
SCC_EXPORT SCCRTN SCC_CALL SccCloseProject(void *c) { (void)c; return SCC_OK; }
SCC_EXPORT SCCRTN SCC_CALL SccCheckout(void *c, SCCHWND w, SCCLONG n, const char **names,
                                       const char *comment, SCCLONG flags, SCCCMDOPTS o) {
    (void)c; (void)w; (void)n; (void)names; (void)comment; (void)flags; (void)o;
    return SCC_OK;
}
SCC_EXPORT SCCRTN SCC_CALL SccQueryInfo(void *c, SCCLONG n, const char **names, SCCLONG *status) {
    (void)c; (void)names;
    for (SCCLONG i = 0; i < n; ++i)
        status[i] = SCC_STATUS_CONTROLLED;
    return SCC_OK;
}
/* Keeps every name: the callback is what a populate list costs. */
SCC_EXPORT SCCRTN SCC_CALL SccPopulateList(void *c, enum SCCCOMMAND cmd, SCCLONG n,
                                           const char **names, POPLISTFUNC populate,
                                           void *data, SCCLONG *status, SCCLONG flags) {
    (void)c; (void)cmd; (void)flags;
    for (SCCLONG i = 0; i < n; ++i)
        populate(data, 1, status[i], names[i]);
    return SCC_OK;
}
