// The provider entry points, one row each: from a row come the entry point's
// number and exported name, its in-process call (typed by the function type
// of the API header, Scc<Name>Fn), which arguments the host protocol carries
// for it and how the host unpacks them. Adding an entry point adds a row (and,
// for an argument of a new kind, a role below).
#pragma once

#include <cstddef>
#include <cstdint>

namespace oskel {

// The roles an argument can play, each a slot of the call record.
namespace args {
enum Arg : uint8_t {
    Context,            // the provider's context (by value)
    ContextOut,         // SccInitialize: the address of the context (in/out)
    Window,             // the parent window: always null
    CallerName,         // SccInitialize's caller name
    SccName,            // SccInitialize's name buffer (out)
    Capabilities,       // SCCLONG out-parameters of SccInitialize
    AuxLabel,
    CheckoutCommentLen,
    CommentLen,
    User,               // the four project texts (in/out buffers)
    ProjectName,
    LocalPath,
    AuxProjPath,
    ProjectComment,     // SccOpenProject's comment
    TextOut,            // the text-out callback
    Flags,              // a flag word (populate options, allowChangePath)
    AllowNew,           // SccGetProjPath's new-project flag (in/out)
    Count,              // number of names
    Names,              // `Count` names
    Name,               // one name: the first of the names
    Comment,
    PerFile,            // `Count` per-file words (in/out)
    Option,             // the command's option slot value
    Command,            // an SCC command number
    OptionSlot,         // SccGetCommandOptions: the slot (in/out)
    Populate,           // the populate callback and its caller data
    CallerData,
    // The further entry points.
    NewName,            // SccRename's new name; SccCreateSubProject's sub-project name
    PathIn,             // SccCreateSubProject's parent path, SccGetParentProjectPath's path
    ResultPath,         // the project path written back (in the second project text)
    Code,               // an option, extended capability or user option number
    OptionValue,        // SccSetOption's pointer-wide value
    EventName,          // SccGetEvents' name buffer (out)
    Value,              // one SCCLONG out: event status, user option value
    Remaining,          // SccGetEvents' count of events still queued (out)
    Answer,             // one SCCBOOL out: supported, multi-checkout
    AddedCount,         // SccAddFromScc's count (in/out) and provider-owned names:
    AddedNames,         //   both calls are made where the call runs
    Changes,            // the query-changes callback
    DirItems,           // the populate-dir-list callback
    kArgCount
};
static_assert(kArgCount <= 64, "argument roles fit a 64-bit mask");
} // namespace args
using args::Arg;

// Each row: the entry point (exported as Scc<Name>, typed Scc<Name>Fn) and
// its arguments in order.
#define OSKEL_ENTRY_POINTS(X)                                                                  \
    X(Initialize, (ContextOut, Window, CallerName, SccName, Capabilities, AuxLabel,           \
                   CheckoutCommentLen, CommentLen))                                            \
    X(Uninitialize, (Context))                                                                 \
    X(GetVersion, ())                                                                          \
    X(OpenProject, (Context, Window, User, ProjectName, LocalPath, AuxProjPath, ProjectComment, \
                    TextOut, Flags))                                                           \
    X(CloseProject, (Context))                                                                 \
    X(GetProjPath, (Context, Window, User, ProjectName, LocalPath, AuxProjPath, Flags, AllowNew)) \
    X(Get, (Context, Window, Count, Names, Flags, Option))                                     \
    X(Checkout, (Context, Window, Count, Names, Comment, Flags, Option))                       \
    X(Checkin, (Context, Window, Count, Names, Comment, Flags, Option))                        \
    X(Uncheckout, (Context, Window, Count, Names, Flags, Option))                              \
    X(Add, (Context, Window, Count, Names, Comment, PerFile, Option))                          \
    X(Remove, (Context, Window, Count, Names, Comment, Flags, Option))                         \
    X(History, (Context, Window, Count, Names, Flags, Option))                                 \
    X(Diff, (Context, Window, Name, Flags, Option))                                            \
    X(Properties, (Context, Window, Name))                                                     \
    X(QueryInfo, (Context, Count, Names, PerFile))                                             \
    X(RunScc, (Context, Window, Count, Names))                                                 \
    X(GetCommandOptions, (Context, Window, Command, OptionSlot))                               \
    X(PopulateList, (Context, Command, Count, Names, Populate, CallerData, PerFile, Flags))    \
    X(Rename, (Context, Window, Name, NewName))                                                \
    X(SetOption, (Context, Code, OptionValue))                                                 \
    X(GetEvents, (Context, EventName, Value, Remaining))                                       \
    X(GetExtendedCapabilities, (Context, Code, Answer))                                        \
    X(AddFromScc, (Context, Window, AddedCount, AddedNames))                                   \
    X(GetUserOption, (Context, Code, Value))                                                   \
    X(BeginBatch, ())                                                                          \
    X(EndBatch, ())                                                                            \
    X(CreateSubProject, (Context, Window, User, PathIn, NewName, AuxProjPath, ResultPath))     \
    X(GetParentProjectPath, (Context, Window, User, PathIn, AuxProjPath, ResultPath))          \
    X(DirQueryInfo, (Context, Count, Names, PerFile))                                          \
    X(DirDiff, (Context, Window, Name, Flags, Option))                                         \
    X(QueryChanges, (Context, Count, Names, Changes, CallerData))                              \
    X(PopulateDirList, (Context, Count, Names, DirItems, CallerData, Flags))                   \
    X(IsMultiCheckoutEnabled, (Context, Answer))                                               \
    X(WillCreateSccFile, (Context, Count, Names, PerFile))

// The entry points in row order: the numbers travel to the host.
enum class EntryPoint : uint32_t {
#define OSKEL_ENTRY_ENUM(name, arguments) name,
    OSKEL_ENTRY_POINTS(OSKEL_ENTRY_ENUM)
#undef OSKEL_ENTRY_ENUM
        Count
};

constexpr size_t kEntryPointCount = static_cast<size_t>(EntryPoint::Count);

// The exported name of an entry point; null for a number out of range.
const char *entryPointName(EntryPoint entry);

// Whether the entry point takes an argument of role `arg`.
bool takes(EntryPoint entry, Arg arg);

} // namespace oskel
