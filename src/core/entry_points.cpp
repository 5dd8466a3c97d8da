// The names and argument roles of the entry-point table's rows.
#include "core/entry_points.h"

namespace oskel {

namespace {

using namespace args;

template <Arg... A> struct Roles {
    static constexpr uint64_t mask = (uint64_t{0} | ... | (uint64_t{1} << A));
};

struct RowFacts {
    const char *name;
    uint64_t arguments; // bit per role
};

#define OSKEL_UNPAREN(...) __VA_ARGS__
#define OSKEL_ENTRY_FACTS(name, arguments) RowFacts{"Scc" #name, Roles<OSKEL_UNPAREN arguments>::mask},
constexpr RowFacts kFacts[] = {OSKEL_ENTRY_POINTS(OSKEL_ENTRY_FACTS)};
#undef OSKEL_ENTRY_FACTS
#undef OSKEL_UNPAREN
static_assert(sizeof kFacts / sizeof kFacts[0] == kEntryPointCount, "one row per entry point");

} // namespace

const char *entryPointName(EntryPoint entry) {
    auto i = static_cast<size_t>(entry);
    return i < kEntryPointCount ? kFacts[i].name : nullptr;
}

bool takes(EntryPoint entry, Arg arg) {
    auto i = static_cast<size_t>(entry);
    return i < kEntryPointCount && arg < kArgCount && (kFacts[i].arguments >> arg & 1u) != 0;
}

} // namespace oskel
