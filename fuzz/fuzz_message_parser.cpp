// The message text parser on a zero-terminated copy of the input: it ends
// with a structure or with TKQstructure::Error, and what it accepts prints
// as text that parses to the same structure.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "FuzzSupport.h"
#include "KQmessage/KQML.h"

using kartlo::TKQstructure;
using kartlo::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kartlo::fuzz::QuietLibraryStreams();
  // An exact-size buffer, so that reading past the zero byte is caught.
  std::unique_ptr<char[]> text(new char[size + 1]);
  std::memcpy(text.get(), data, size);
  text[size] = '\0';
  const char* const end = text.get() + std::strlen(text.get());

  std::unique_ptr<TKQstructure> message;
  const char* cursor = text.get();
  try {
    message = TKQstructure::FromText(cursor);
  } catch (const TKQstructure::Error& e) {
    Require(e.message != nullptr, "error without a structure");
    Require(cursor >= text.get() && cursor <= end, "cursor outside the text");
    return 0;
  } catch (const std::bad_alloc&) {
    return 0;
  }
  Require(message != nullptr, "null message without an error");
  Require(cursor >= text.get() && cursor <= end, "cursor outside the text");

  const std::string printed = message->ToText();
  const char* again = printed.c_str();
  std::unique_ptr<TKQstructure> reparsed;
  try {
    reparsed = TKQstructure::FromText(again);
  } catch (const TKQstructure::Error&) {
    kartlo::fuzz::Finding("printed message refused: " + printed);
  }
  if (reparsed->ToText() != printed) {
    kartlo::fuzz::Finding("printing is not stable: " + printed + " / " + reparsed->ToText());
  }
  TKQstructure copy(*message);
  Require(copy.ToText() == printed, "copy prints differently");
  return 0;
}
