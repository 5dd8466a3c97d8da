// Provider discovery: the installed providers' names and their keys, read from
// HKEY_LOCAL_MACHINE\Software\SourceCodeControlProvider\InstalledSCCProviders.
#pragma once

#include <string>
#include <vector>

namespace oskel::discovery {

// Every provider name, in the registry's enumeration order. A value whose
// name is longer than 259 bytes is skipped, with a line in every trace log in
// use. False when the key is missing or any other step of the listing fails:
// never a partial list.
bool listProviderNames(std::vector<std::string> &names);

// The provider key recorded under `name`. False when there is none or it is
// longer than the 260-byte buffer allows.
bool readProviderKey(const char *name, std::string &key);

// The raw key among the installed providers' keys whose decoded form (as it
// reached Java) is `decoded`, for keys that are not modified UTF-8 in the
// registry. False when there is none.
bool findRawProviderKey(const std::u16string &decoded, std::string &key);

} // namespace oskel::discovery
