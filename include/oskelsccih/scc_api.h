/*
 * The SCC provider interface as this library, its test providers and the
 * bundled providers see it: entry point signatures, result codes, capability
 * bits, message types, command numbers and status bits, written from the
 * public function reference of the SCC API.
 *
 * Plain C so that a provider may be written in C. Every entry point uses the
 * C calling convention and returns a signed 32-bit result code.
 */
#ifndef OSKELSCCIH_SCC_API_H
#define OSKELSCCIH_SCC_API_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define SCC_CALL __cdecl
#define SCC_EXPORT __declspec(dllexport)
#else
#define SCC_CALL
#define SCC_EXPORT __attribute__((visibility("default")))
#endif

typedef int32_t SCCRTN;   /* result code of every entry point */
typedef int32_t SCCLONG;  /* LONG of the API: 32 bits on every platform */
typedef int32_t SCCBOOL;  /* BOOL of the API */
typedef void *SCCHWND;    /* window handle; always null from this library */
typedef void *SCCCMDOPTS; /* opaque command option block of a provider */

/* Text sizes, terminator included where the API says "+1". */
#define SCC_NAME_LEN 31
#define SCC_AUXLABEL_LEN 31
#define SCC_USER_LEN 31
#define SCC_PRJPATH_LEN 300

/* Result codes. */
#define SCC_OK 0
#define SCC_I_ADV_SUPPORT 1
#define SCC_I_OPERATIONCANCELED 2
#define SCC_I_PROJECTCREATED 3
#define SCC_I_FILENOTAFFECTED 4
#define SCC_I_RELOADFILE 5
#define SCC_I_FILEDIFFERS 6
#define SCC_I_SHARESUBPROJOK 7
#define SCC_E_INITIALIZEFAILED (-1)
#define SCC_E_UNKNOWNPROJECT (-2)
#define SCC_E_COULDNOTCREATEPROJECT (-3)
#define SCC_E_NOTCHECKEDOUT (-4)
#define SCC_E_ALREADYCHECKEDOUT (-5)
#define SCC_E_FILEISLOCKED (-6)
#define SCC_E_FILEOUTEXCLUSIVE (-7)
#define SCC_E_ACCESSFAILURE (-8)
#define SCC_E_CHECKINCONFLICT (-9)
#define SCC_E_FILEALREADYEXISTS (-10)
#define SCC_E_FILENOTCONTROLLED (-11)
#define SCC_E_FILEISCHECKEDOUT (-12)
#define SCC_E_NOSPECIFIEDVERSION (-13)
#define SCC_E_OPNOTSUPPORTED (-14)
#define SCC_E_NONSPECIFICERROR (-15)
#define SCC_E_OPNOTPERFORMED (-16)
#define SCC_E_TYPENOTSUPPORTED (-17)
#define SCC_E_VERIFYMERGE (-18)
#define SCC_E_FIXMERGE (-19)
#define SCC_E_SHELLFAILURE (-20)
#define SCC_E_INVALIDUSER (-21)
#define SCC_E_PROJECTALREADYOPEN (-22)
#define SCC_E_PROJSYNTAXERR (-23)
#define SCC_E_INVALIDFILEPATH (-24)
#define SCC_E_PROJNOTOPEN (-25)
#define SCC_E_NOTAUTHORIZED (-26)
#define SCC_E_FILESYNTAXERR (-27)
#define SCC_E_FILENOTEXIST (-28)
#define SCC_E_CONNECTIONFAILURE (-29)
#define SCC_E_UNKNOWNERROR (-30)

/* Capability bits reported by SccInitialize. */
#define SCC_CAP_REMOVE 0x00000001L
#define SCC_CAP_RENAME 0x00000002L
#define SCC_CAP_DIFF 0x00000004L
#define SCC_CAP_HISTORY 0x00000008L
#define SCC_CAP_PROPERTIES 0x00000010L
#define SCC_CAP_RUNSCC 0x00000020L
#define SCC_CAP_GETCOMMANDOPTIONS 0x00000040L
#define SCC_CAP_QUERYINFO 0x00000080L
#define SCC_CAP_GETEVENTS 0x00000100L
#define SCC_CAP_GETPROJPATH 0x00000200L
#define SCC_CAP_ADDFROMSCC 0x00000400L
#define SCC_CAP_COMMENTCHECKOUT 0x00000800L
#define SCC_CAP_COMMENTCHECKIN 0x00001000L
#define SCC_CAP_COMMENTADD 0x00002000L
#define SCC_CAP_COMMENTREMOVE 0x00004000L
#define SCC_CAP_TEXTOUT 0x00008000L
#define SCC_CAP_ADD_STORELATEST 0x00200000L
#define SCC_CAP_HISTORY_MULTFILE 0x00400000L
#define SCC_CAP_IGNORECASE 0x00800000L
#define SCC_CAP_IGNORESPACE 0x01000000L
#define SCC_CAP_POPULATELIST 0x02000000L
#define SCC_CAP_COMMENTPROJECT 0x04000000L
#define SCC_CAP_DIFFALWAYS 0x10000000L
#define SCC_CAP_GET_NOUI 0x20000000L
#define SCC_CAP_REENTRANT 0x40000000L

/* Message types of the text-out callback. */
#define SCC_MSG_INFO 1
#define SCC_MSG_WARNING 2
#define SCC_MSG_ERROR 3
#define SCC_MSG_STATUS 4
#define SCC_MSG_DOCUMENT 5

/* SccOpenProject flags. */
#define SCC_OP_CREATEIFNEW 0x00000001L
#define SCC_OP_SILENTOPEN 0x00000002L

/* File type flags of SccAdd, diff flags. */
#define SCC_FILETYPE_AUTO 0x00L
#define SCC_FILETYPE_TEXT 0x01L
#define SCC_FILETYPE_BINARY 0x02L
#define SCC_ADD_STORELATEST 0x04L
#define SCC_DIFF_IGNORECASE 0x0002L
#define SCC_DIFF_IGNORESPACE 0x0004L
#define SCC_DIFF_QD_CONTENTS 0x0010L
#define SCC_DIFF_QD_CHECKSUM 0x0020L
#define SCC_DIFF_QD_TIME 0x0040L
#define SCC_KEEP_CHECKEDOUT 0x1000L

/* SCC command numbers. */
enum SCCCOMMAND {
    SCC_COMMAND_GET = 0,
    SCC_COMMAND_CHECKOUT = 1,
    SCC_COMMAND_CHECKIN = 2,
    SCC_COMMAND_UNCHECKOUT = 3,
    SCC_COMMAND_ADD = 4,
    SCC_COMMAND_REMOVE = 5,
    SCC_COMMAND_DIFF = 6,
    SCC_COMMAND_HISTORY = 7,
    SCC_COMMAND_RENAME = 8,
    SCC_COMMAND_PROPERTIES = 9,
    SCC_COMMAND_OPTIONS = 10
};

/* Status bits of SccQueryInfo and the populate callback. */
#define SCC_STATUS_INVALID (-1L)
#define SCC_STATUS_NOTCONTROLLED 0x0000L
#define SCC_STATUS_CONTROLLED 0x0001L
#define SCC_STATUS_CHECKEDOUT 0x0002L
#define SCC_STATUS_OUTOTHER 0x0004L
#define SCC_STATUS_OUTEXCLUSIVE 0x0008L
#define SCC_STATUS_OUTMULTIPLE 0x0010L
#define SCC_STATUS_OUTOFDATE 0x0020L
#define SCC_STATUS_DELETED 0x0040L
#define SCC_STATUS_LOCKED 0x0080L
#define SCC_STATUS_MERGED 0x0100L
#define SCC_STATUS_SHARED 0x0200L
#define SCC_STATUS_PINNED 0x0400L
#define SCC_STATUS_MODIFIED 0x0800L
#define SCC_STATUS_OUTBYUSER 0x1000L
#define SCC_STATUS_NOMERGE 0x2000L

/* Callbacks the caller hands to the provider. */
typedef SCCLONG(SCC_CALL *LPTEXTOUTPROC)(const char *text, SCCLONG messageType);
typedef SCCBOOL(SCC_CALL *POPLISTFUNC)(void *callerData, SCCBOOL addKeep, SCCLONG status,
                                       const char *fileName);

/* Entry point types, named after the exported functions. */
typedef SCCRTN(SCC_CALL *SccInitializeFn)(void **context, SCCHWND window, const char *callerName,
                                          char *sccName, SCCLONG *capabilities, char *auxPathLabel,
                                          SCCLONG *checkoutCommentLen, SCCLONG *commentLen);
typedef SCCRTN(SCC_CALL *SccUninitializeFn)(void *context);
typedef SCCLONG(SCC_CALL *SccGetVersionFn)(void);
typedef SCCRTN(SCC_CALL *SccOpenProjectFn)(void *context, SCCHWND window, char *user,
                                           char *projectName, const char *localProjPath,
                                           char *auxProjPath, const char *comment,
                                           LPTEXTOUTPROC textOut, SCCLONG flags);
typedef SCCRTN(SCC_CALL *SccCloseProjectFn)(void *context);
typedef SCCRTN(SCC_CALL *SccGetProjPathFn)(void *context, SCCHWND window, char *user,
                                           char *projectName, char *localPath, char *auxProjPath,
                                           SCCBOOL allowChangePath, SCCBOOL *isNew);
typedef SCCRTN(SCC_CALL *SccGetFn)(void *context, SCCHWND window, SCCLONG count,
                                   const char **names, SCCLONG flags, SCCCMDOPTS options);
typedef SCCRTN(SCC_CALL *SccCheckoutFn)(void *context, SCCHWND window, SCCLONG count,
                                        const char **names, const char *comment, SCCLONG flags,
                                        SCCCMDOPTS options);
typedef SccCheckoutFn SccCheckinFn;
typedef SccGetFn SccUncheckoutFn;
typedef SCCRTN(SCC_CALL *SccAddFn)(void *context, SCCHWND window, SCCLONG count,
                                   const char **names, const char *comment, SCCLONG *flags,
                                   SCCCMDOPTS options);
typedef SccCheckoutFn SccRemoveFn;
typedef SccGetFn SccHistoryFn;
typedef SCCRTN(SCC_CALL *SccDiffFn)(void *context, SCCHWND window, const char *name,
                                    SCCLONG flags, SCCCMDOPTS options);
typedef SCCRTN(SCC_CALL *SccPropertiesFn)(void *context, SCCHWND window, const char *name);
typedef SCCRTN(SCC_CALL *SccQueryInfoFn)(void *context, SCCLONG count, const char **names,
                                         SCCLONG *status);
typedef SCCRTN(SCC_CALL *SccRunSccFn)(void *context, SCCHWND window, SCCLONG count,
                                      const char **names);
typedef SCCRTN(SCC_CALL *SccGetCommandOptionsFn)(void *context, SCCHWND window,
                                                 enum SCCCOMMAND command, SCCCMDOPTS *options);
typedef SCCRTN(SCC_CALL *SccPopulateListFn)(void *context, enum SCCCOMMAND command, SCCLONG count,
                                            const char **names, POPLISTFUNC populate,
                                            void *callerData, SCCLONG *status, SCCLONG flags);

#ifdef __cplusplus
}
#endif

#endif
