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
#define SCC_E_BACKGROUNDGETINPROGRESS (-31)

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
#define SCC_CAP_CREATESUBPROJECT 0x00010000L
#define SCC_CAP_GETPARENTPROJECT 0x00020000L
#define SCC_CAP_BATCH 0x00040000L
#define SCC_CAP_DIRECTORYSTATUS 0x00080000L
#define SCC_CAP_DIRECTORYDIFF 0x00100000L
#define SCC_CAP_ADD_STORELATEST 0x00200000L
#define SCC_CAP_HISTORY_MULTFILE 0x00400000L
#define SCC_CAP_IGNORECASE 0x00800000L
#define SCC_CAP_IGNORESPACE 0x01000000L
#define SCC_CAP_POPULATELIST 0x02000000L
#define SCC_CAP_COMMENTPROJECT 0x04000000L
#define SCC_CAP_MULTICHECKOUT 0x08000000L
#define SCC_CAP_DIFFALWAYS 0x10000000L
#define SCC_CAP_GET_NOUI 0x20000000L
#define SCC_CAP_REENTRANT 0x40000000L
#define SCC_CAP_SCCFILE ((SCCLONG)0x80000000UL) /* the sign bit of the 32-bit word */

/* Message types of the text-out callback. */
#define SCC_MSG_INFO 1
#define SCC_MSG_WARNING 2
#define SCC_MSG_ERROR 3
#define SCC_MSG_STATUS 4
#define SCC_MSG_DOCUMENT 5
/* With cancel mode on (SccSetOption SCC_OPT_HASCANCELMODE, SCC_OPT_HCM_YES) type 5
   is the provider's "has the user cancelled?" question, answered by the
   callback's result, and 6/7 show and hide the caller's cancel control. */
#define SCC_MSG_DOCANCEL 5
#define SCC_MSG_STARTCANCEL 6
#define SCC_MSG_STOPCANCEL 7
#define SCC_MSG_RTN_OK 0
#define SCC_MSG_RTN_CANCEL (-1)

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
#define SCC_DIFF_QUICK_DIFF 0x0070L /* mask of the three quick-diff bits */
#define SCC_KEEP_CHECKEDOUT 0x1000L

/* SccSetOption options and values. */
#define SCC_OPT_EVENTQUEUE 0x00000001L
#define SCC_OPT_USERDATA 0x00000002L
#define SCC_OPT_HASCANCELMODE 0x00000003L
#define SCC_OPT_NAMECHANGEPFN 0x00000004L
#define SCC_OPT_SCCCHECKOUTONLY 0x00000005L
#define SCC_OPT_SHARESUBPROJ 0x00000006L
#define SCC_OPT_EQ_DISABLE 0x00L
#define SCC_OPT_EQ_ENABLE 0x01L
#define SCC_OPT_HCM_NO 0L
#define SCC_OPT_HCM_YES 1L
#define SCC_OPT_SCO_NO 0L
#define SCC_OPT_SCO_YES 1L

/* Extended capability codes of SccGetExtendedCapabilities: numbers, one per
   query, not bits. */
#define SCC_EXCAP_CHECKOUT_LOCALVER 1
#define SCC_EXCAP_BACKGROUND_GET 2
#define SCC_EXCAP_ENUM_CHANGED_FILES 3
#define SCC_EXCAP_POPULATELIST_DIR 4
#define SCC_EXCAP_QUERYCHANGES 5
#define SCC_EXCAP_ADD_FILES_FROM_SCC 6
#define SCC_EXCAP_GET_USER_OPTIONS 7
#define SCC_EXCAP_THREADSAFE_QUERY_INFO 8
#define SCC_EXCAP_REMOVE_DIR 9
#define SCC_EXCAP_DELETE_CHECKEDOUT 10
#define SCC_EXCAP_RENAME_CHECKEDOUT 11

/* SccGetUserOption. The reference names these without numbers; these are
   this library's, and every provider built against this header shares them. */
#define SCC_USEROPT_CHECKOUT_LOCALVER 1
#define SCC_USEROPT_COLV_NO 0
#define SCC_USEROPT_COLV_YES 1

/* Folder status bits of SccDirQueryInfo. */
#define SCC_DIRSTATUS_INVALID (-1L)
#define SCC_DIRSTATUS_NOTCONTROLLED 0x0000L
#define SCC_DIRSTATUS_CONTROLLED 0x0001L
#define SCC_DIRSTATUS_EMPTYPROJ 0x0002L

/* Change kinds reported by SccQueryChanges. The reference gives names and
   meanings only: the numbers are this library's, in the reference's order. */
#define SCC_CHANGE_UNKNOWN 0
#define SCC_CHANGE_UNCHANGED 1
#define SCC_CHANGE_DIFFERENT 2
#define SCC_CHANGE_NONEXISTENT 3
#define SCC_CHANGE_DATABASE_DELETED 4
#define SCC_CHANGE_LOCAL_DELETED 5
#define SCC_CHANGE_DATABASE_ADDED 6
#define SCC_CHANGE_LOCAL_ADDED 7
#define SCC_CHANGE_RENAMED_TO 8
#define SCC_CHANGE_RENAMED_FROM 9

/* SccPopulateDirList options. */
#define SCC_PDL_ONELEVEL 0x0000L
#define SCC_PDL_RECURSIVE 0x0001L
#define SCC_PDL_INCLUDEFILES 0x0002L

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
#define SCC_STATUS_RESERVED_1 0x4000L
#define SCC_STATUS_RESERVED_2 0x8000L

/* Callbacks the caller hands to the provider. */
typedef SCCLONG(SCC_CALL *LPTEXTOUTPROC)(const char *text, SCCLONG messageType);
typedef SCCBOOL(SCC_CALL *POPLISTFUNC)(void *callerData, SCCBOOL addKeep, SCCLONG status,
                                       const char *fileName);

/* One file's change as SccQueryChanges reports it; valid during the callback. */
typedef struct QUERYCHANGESDATA {
    uint32_t dwSize;          /* sizeof(QUERYCHANGESDATA) */
    const char *lpFileName;   /* the name asked about */
    uint32_t dwChangeType;    /* SCC_CHANGE_* */
    const char *lpLatestName; /* the name it has now (renames), else as lpFileName */
} QUERYCHANGESDATA;
/* Results of the two callbacks below: SCC_OK goes on; anything else (the
   caller answers SCC_I_OPERATIONCANCELED) asks the provider to stop. */
typedef SCCBOOL(SCC_CALL *QUERYCHANGESFUNC)(void *callerData, QUERYCHANGESDATA *change);
typedef SCCBOOL(SCC_CALL *POPDIRLISTFUNC)(void *callerData, SCCBOOL folder, const char *name);
typedef void(SCC_CALL *OPTNAMECHANGEPFN)(void *callerData, const char *oldName,
                                         const char *newName);

/* SccSetOption's value: a LONG in the reference, but it carries a callback
   and user data, so it is passed pointer-wide. A provider that declares it
   32-bit reads the low half, which is the whole of every numeric value. */
typedef intptr_t SCCOPTVALUE;

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
typedef SCCRTN(SCC_CALL *SccRenameFn)(void *context, SCCHWND window, const char *fileName,
                                      const char *newName);
typedef SCCRTN(SCC_CALL *SccSetOptionFn)(void *context, SCCLONG option, SCCOPTVALUE value);
/* fileName: a buffer of SCC_EVENT_NAME_SIZE bytes. */
#define SCC_EVENT_NAME_SIZE 260
typedef SCCRTN(SCC_CALL *SccGetEventsFn)(void *context, char *fileName, SCCLONG *status,
                                         SCCLONG *eventsRemaining);
typedef SCCRTN(SCC_CALL *SccGetExtendedCapabilitiesFn)(void *context, SCCLONG capability,
                                                       SCCBOOL *supported);
/* First call: *count is 1 when (*names)[0] is a destination folder, else 0;
   the provider sets *count and *names to an array it owns. Second call with
   count null: the provider frees that array. */
typedef SCCRTN(SCC_CALL *SccAddFromSccFn)(void *context, SCCHWND window, SCCLONG *count,
                                          const char ***names);
typedef SCCRTN(SCC_CALL *SccGetUserOptionFn)(void *context, SCCLONG option, SCCLONG *value);
typedef SCCRTN(SCC_CALL *SccBeginBatchFn)(void);
typedef SCCRTN(SCC_CALL *SccEndBatchFn)(void);
/* user: SCC_USER_LEN + 1 bytes; the project paths SCC_PRJPATH_LEN + 1 bytes. */
typedef SCCRTN(SCC_CALL *SccCreateSubProjectFn)(void *context, SCCHWND window, char *user,
                                                const char *parentProjPath,
                                                const char *subProjName, char *auxProjPath,
                                                char *subProjPath);
typedef SCCRTN(SCC_CALL *SccGetParentProjectPathFn)(void *context, SCCHWND window, char *user,
                                                    const char *projPath, char *auxProjPath,
                                                    char *parentProjPath);
typedef SCCRTN(SCC_CALL *SccDirQueryInfoFn)(void *context, SCCLONG count, const char **dirs,
                                            SCCLONG *status);
typedef SCCRTN(SCC_CALL *SccDirDiffFn)(void *context, SCCHWND window, const char *dir,
                                       SCCLONG flags, SCCCMDOPTS options);
typedef SCCRTN(SCC_CALL *SccQueryChangesFn)(void *context, SCCLONG count, const char **names,
                                            QUERYCHANGESFUNC callback, void *callerData);
typedef SCCRTN(SCC_CALL *SccPopulateDirListFn)(void *context, SCCLONG count, const char **dirs,
                                               POPDIRLISTFUNC callback, void *callerData,
                                               SCCLONG options);
typedef SCCRTN(SCC_CALL *SccIsMultiCheckoutEnabledFn)(void *context, SCCBOOL *multiCheckout);
typedef SCCRTN(SCC_CALL *SccWillCreateSccFileFn)(void *context, SCCLONG count,
                                                 const char **names, SCCBOOL *sccFiles);

#ifdef __cplusplus
}
#endif

#endif
