// Helpers shared by the fuzz targets: quiet library streams and loud findings.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <new>
#include <string>

#include "FileHandler/FileTools.h"
#include "KQmessage/TException.h"

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

/// Runs `read`; true when it completes, false when it refuses the input the ways the readers
/// may: a FileTools::Error (which must say something), a TException, or an allocation the
/// fuzzer's memory limit refused.
template <class Read>
bool Completes(Read read) {
  try {
    read();
    return true;
  } catch (const FileTools::Error& e) {
    Require(!e.message.empty(), "empty error message");
  } catch (const TException&) {
  } catch (const std::bad_alloc&) {
  }
  return false;
}

}  // namespace kartlo::fuzz
