// libFuzzer target for the .reg parser. Besides surviving any input under
// ASan and UBSan, the parser must agree with itself:
// - every value a key enumerates is found again by its name, as that same
//   entry (so no two names of a key differ only in ASCII case);
// - reading one key alone (parseKey) gives exactly what reading the whole file
//   (parseAll) gives for that key, whether it exists or not;
// - the parent of every key exists.
#include "platform/regfile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace oskel::platform::regfile;

namespace {

[[noreturn]] void broken(const char *what, std::string_view key)
{
    std::fprintf(stderr, "invariant broken: %s (key \"%.*s\")\n", what, static_cast<int>(key.size()), key.data());
    std::abort();
}

bool same(const KeyValues &a, const KeyValues &b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const Value &x = a.at(i);
        const Value &y = b.at(i);
        if (x.name != y.name || x.type != y.type || x.data != y.data) return false;
    }
    return true;
}

void checkNames(const KeyValues &values, std::string_view key)
{
    for (std::size_t i = 0; i < values.size(); ++i)
        if (values.find(values.at(i).name) != &values.at(i)) broken("an enumerated name is not found as itself", key);
}

void checkAgreement(std::string_view bytes, const RegFile &file, std::string_view key)
{
    std::optional<KeyValues> alone = parseKey(bytes, key);
    const KeyValues *whole = file.find(key);
    if (alone.has_value() != (whole != nullptr)) broken("parseKey and parseAll disagree on existence", key);
    if (whole == nullptr) return;
    if (!same(*alone, *whole)) broken("parseKey and parseAll disagree on values", key);
    checkNames(*alone, key);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    std::string_view bytes(reinterpret_cast<const char *>(data), size);
    RegFile file = parseAll(bytes);
    int compared = 0;
    for (const auto &entry : file.keys()) {
        const std::string &key = entry.first;
        checkNames(entry.second, key);
        std::size_t slash = key.rfind('\\');
        if (slash != std::string::npos && file.find(key.substr(0, slash)) == nullptr)
            broken("the parent of a key is missing", key);
        // parseKey reads the whole input again: compare a handful of keys.
        if (compared++ < 8) {
            checkAgreement(bytes, file, key);
            if (slash != std::string::npos) checkAgreement(bytes, file, key.substr(0, slash));
        }
    }
    for (const char *probe : {"", "software", "software\\test", "Software\\SourceCodeControlProvider"})
        checkAgreement(bytes, file, probe);
    return 0;
}
