// The in-process provider and the entry-point table: each row's call is made
// from the call record by the roles of its arguments, through the function
// type the API header gives the entry point; symbols are looked up once.
#include "core/provider.h"

#include <type_traits>

#include "platform/platform.h"

namespace oskel {

namespace {

using namespace args;

void *pointer(uint64_t value) { return reinterpret_cast<void *>(static_cast<uintptr_t>(value)); }
uint64_t value(void *p) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p)); }

// The pointer-sized values of a call as the provider sees them, written back
// to the record after the call.
struct Frame {
    explicit Frame(ProviderCall &call)
        : c(call), context(pointer(call.context)),
          contextOut(call.contextOut ? pointer(*call.contextOut) : nullptr),
          option(pointer(call.option)), slot(call.optionSlot ? pointer(*call.optionSlot) : nullptr) {}
    void finish() {
        if (c.contextOut)
            *c.contextOut = value(contextOut);
        if (c.optionSlot)
            *c.optionSlot = value(slot);
    }
    ProviderCall &c;
    void *context;
    void *contextOut;
    SCCCMDOPTS option;
    SCCCMDOPTS slot;
};

// The value an argument of role A is passed.
template <Arg A> auto argument(Frame &f) {
    ProviderCall &c = f.c;
    if constexpr (A == Context) return f.context;
    else if constexpr (A == ContextOut) return c.contextOut ? &f.contextOut : nullptr;
    else if constexpr (A == Window) return static_cast<SCCHWND>(nullptr);
    else if constexpr (A == CallerName) return c.callerName;
    else if constexpr (A == SccName) return c.sccName;
    else if constexpr (A == Capabilities) return c.capabilities;
    else if constexpr (A == AuxLabel) return c.auxLabel;
    else if constexpr (A == CheckoutCommentLen) return c.checkoutCommentLen;
    else if constexpr (A == CommentLen) return c.commentLen;
    else if constexpr (A == User) return c.projectTexts[0];
    else if constexpr (A == ProjectName) return c.projectTexts[1];
    else if constexpr (A == LocalPath) return c.projectTexts[2];
    else if constexpr (A == AuxProjPath) return c.projectTexts[3];
    else if constexpr (A == ProjectComment) return c.projectComment;
    else if constexpr (A == TextOut) return c.textOut;
    else if constexpr (A == Flags) return static_cast<SCCLONG>(c.flags);
    else if constexpr (A == AllowNew) return c.allowNew;
    else if constexpr (A == Count) return static_cast<SCCLONG>(c.count);
    else if constexpr (A == Names) return c.names;
    else if constexpr (A == Name) return c.names ? c.names[0] : nullptr;
    else if constexpr (A == Comment) return c.comment;
    else if constexpr (A == PerFile) return c.perFile;
    else if constexpr (A == Option) return f.option;
    else if constexpr (A == Command) return static_cast<SCCCOMMAND>(c.command);
    else if constexpr (A == OptionSlot) return c.optionSlot ? &f.slot : nullptr;
    else if constexpr (A == Populate) return c.populate;
    else if constexpr (A == CallerData) return c.callerData;
    else if constexpr (A == NewName) return c.newName;
    else if constexpr (A == PathIn) return c.path;
    else if constexpr (A == ResultPath) return c.projectTexts[1];
    else if constexpr (A == Code) return static_cast<SCCLONG>(c.code);
    else if constexpr (A == OptionValue)
        return c.nameChange ? reinterpret_cast<SCCOPTVALUE>(c.nameChange)
                            : static_cast<SCCOPTVALUE>(c.optionValue);
    else if constexpr (A == EventName) return c.eventName;
    else if constexpr (A == Value) return c.value;
    else if constexpr (A == Remaining) return c.remaining;
    else if constexpr (A == Answer) return c.answer;
    else if constexpr (A == Changes) return c.changes;
    else if constexpr (A == DirItems) return c.dirItems;
    else static_assert(A != A, "an argument role without a value");
}

using Invoker = int32_t (*)(void *fn, ProviderCall &call);

template <Arg... A> struct ArgList {};

// The call of an entry point of type Fn whose arguments play the roles A.
template <typename Fn, typename List> struct Entry;
template <typename Fn, Arg... A> struct Entry<Fn, ArgList<A...>> {
    static int32_t invoke(void *fn, ProviderCall &call) {
        Frame f(call);
        const auto result = reinterpret_cast<Fn>(fn)(argument<A>(f)...);
        f.finish();
        return static_cast<int32_t>(result);
    }
};

// SccAddFromScc: the first call fills the provider's own array, whose names
// are copied out; a second call with a null count hands the array back for
// freeing. It is made whenever the provider replaced the array pointer, even
// when the first call failed, so that nothing it allocated is left behind.
template <> struct Entry<SccAddFromSccFn, ArgList<Context, Window, AddedCount, AddedNames>> {
    static int32_t invoke(void *fn, ProviderCall &call) {
        auto add = reinterpret_cast<SccAddFromSccFn>(fn);
        const char *destination[1] = {call.path};
        const char **names = call.path ? destination : nullptr;
        SCCLONG count = call.path ? 1 : 0;
        const SCCRTN result = add(pointer(call.context), nullptr, &count, &names);
        if (names != destination && names != nullptr) {
            if (call.added != nullptr && count > 0) {
                try {
                    call.added->reserve(static_cast<size_t>(count));
                    for (SCCLONG i = 0; i < count; ++i)
                        call.added->emplace_back(names[i] ? names[i] : "");
                } catch (...) {
                    // Out of memory: the names not copied are lost; the array
                    // still goes back to the provider.
                }
            }
            add(pointer(call.context), nullptr, nullptr, &names);
        }
        return static_cast<int32_t>(result);
    }
};

struct Row {
    Invoker invoke;
};

#define OSKEL_UNPAREN(...) __VA_ARGS__
#define OSKEL_ENTRY_ROW(name, arguments)                                                       \
    Row{Entry<Scc##name##Fn, ArgList<OSKEL_UNPAREN arguments>>::invoke},
const Row kRows[] = {OSKEL_ENTRY_POINTS(OSKEL_ENTRY_ROW)};
#undef OSKEL_ENTRY_ROW
#undef OSKEL_UNPAREN
static_assert(sizeof kRows / sizeof kRows[0] == kEntryPointCount, "one row per entry point");

class InProcessProvider final : public Provider {
public:
    explicit InProcessProvider(void *library)
        : library_(library), entryPoints_(resolveEntryPoints(library)) {}
    ~InProcessProvider() override { platform::freeLibrary(library_); }
    InProcessProvider(const InProcessProvider &) = delete;
    InProcessProvider &operator=(const InProcessProvider &) = delete;
    CallOutcome call(ProviderCall &c) override { return callLibrary(entryPoints_, c); }

private:
    void *library_;
    EntryPoints entryPoints_;
};

} // namespace

EntryPoints resolveEntryPoints(void *library) {
    EntryPoints found;
    if (library != nullptr)
        for (size_t i = 0; i < kEntryPointCount; ++i)
            found.symbols[i] = platform::findSymbol(library, entryPointName(static_cast<EntryPoint>(i)));
    return found;
}

CallOutcome callLibrary(const EntryPoints &entryPoints, ProviderCall &c) {
    const auto i = static_cast<size_t>(c.entry);
    void *fn = i < kEntryPointCount ? entryPoints.symbols[i] : nullptr;
    if (fn == nullptr)
        return {true, 0};
    return {false, kRows[i].invoke(fn, c)};
}

std::unique_ptr<Provider> inProcessProvider(void *library) {
    if (library == nullptr)
        return nullptr;
    return std::make_unique<InProcessProvider>(library);
}

} // namespace oskel
