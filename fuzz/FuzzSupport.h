// Helpers shared by the fuzz targets: quiet library streams and loud findings.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

namespace kartlo::fuzz {

/// The readers echo some refused input on std::cout or std::cerr; the fuzzer
/// silences both so that its own log stays readable. Sanitizer and finding
/// reports go to file descriptor 2 directly and stay visible.
inline void QuietLibraryStreams() {
  static const bool done = [] {
    std::cout.rdbuf(nullptr);
    std::cerr.rdbuf(nullptr);
    return true;
  }();
  static_cast<void>(done);
}

/// A broken property: report it and abort, which the fuzzer records as a crash.
[[noreturn]] inline void Finding(const std::string& what) {
  std::fprintf(stderr, "FINDING: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

inline void Require(bool condition, const char* what) {
  if (!condition) Finding(what);
}

}  // namespace kartlo::fuzz
