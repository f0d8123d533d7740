// What orvexctl's exit status tells a script.
#pragma once

namespace orvexctl {

inline constexpr int kAllDone = 0;          // every command succeeded
inline constexpr int kCommandFailed = 1;    // a command failed; the rest were not run
inline constexpr int kBadArguments = 2;     // nothing was sent
inline constexpr int kLibraryUnusable = 3;  // not found, not loadable, or an export missing

}  // namespace orvexctl
