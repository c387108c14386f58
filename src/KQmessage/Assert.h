#pragma once

namespace kartlo {

/// Reports a broken internal condition on standard error and aborts; never returns.
[[noreturn]] void AssertFail(const char* expression, const char* file, int line);

}  // namespace kartlo

/// Checks a programming-error condition in every build (not tied to NDEBUG).
#define KARTLO_ASSERT(expr) \
  ((expr) ? static_cast<void>(0) : ::kartlo::AssertFail(#expr, __FILE__, __LINE__))

/// As KARTLO_ASSERT, but reports `text` as the failed expression.
#define KARTLO_ASSERT_TEXT(expr, text) \
  ((expr) ? static_cast<void>(0) : ::kartlo::AssertFail(text, __FILE__, __LINE__))
