#pragma once
// The host's rules for a file name, checked before an upload sends anything: a name the host
// would refuse fails here with the rule it breaks, and the batch goes on with the next file.
#include <functional>
#include <string>
#include <string_view>

// Why the host would refuse `hostName` as an upload target, "" when it takes it. The name
// before the first comma has 1 to 8 letters and digits, a letter first; after the comma come
// the file code and, if any, the extent sizes, each a number from 0 to 65535.
std::string GuardianNameProblem(std::string_view hostName);

// A free variant of `hostName` for an upload that must not replace the file of that name:
// digits at the end of the name part (shortened to keep 8 characters), the ",code" suffix
// kept. `taken` is asked with the upper-case name part. "" when no variant up to 9999 is free.
std::string FreeHostName(std::string_view hostName, const std::function<bool(const std::string &)> &taken);

// The name part of a host name, upper case, as the host lists it: "progc,101" gives "PROGC".
std::string HostListedName(std::string_view hostName);
