// The tag reader as every file reader drives it: items are read in a loop,
// continued while a bracket stays open, with a stack of open block names.
// The first byte chooses which items open blocks, so that both start tags
// («[NeuralNetwork]») and assignments («[Layer = 1]») get nested.

#include <cstddef>
#include <cstdint>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "FileHandler/FileTools.h"
#include "FuzzSupport.h"
#include "KQmessage/TException.h"

using kartlo::FileTools;
using kartlo::TagInfo;
using kartlo::fuzz::Require;

namespace {

bool IsSeparatorOrSpecial(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u <= 0x20 || u >= 0x7F || c == ',') return true;
  for (char s : {'[', ']', '/', '*', '=', '<', '>'}) {
    if (c == s) return true;
  }
  return false;
}

/// A name or value is one word: non-empty, no separator, no special character.
void RequireWord(const std::string& text, const char* what) {
  Require(!text.empty(), what);
  for (char c : text) Require(!IsSeparatorOrSpecial(c), what);
}

void ReadAll(const std::string& text, std::uint8_t policy) {
  const bool startTagsOpen = (policy & 1) != 0;
  const bool assignmentsOpen = (policy & 2) != 0;
  std::istringstream in(text);
  FileTools tools;
  std::vector<std::string> blocks;
  bool continued = false;
  for (;;) {
    const char* blockdef = blocks.empty() ? nullptr : blocks.back().c_str();
    const TagInfo tag = tools.ReadTag(in, blockdef, continued);
    switch (tag.kind) {
      case kartlo::EndOfBlock:
        Require(!continued, "EndOfBlock in continued mode");
        Require(!tag.more, "EndOfBlock with more");
        if (blocks.empty()) {
          // Only the end of the input ends the top level.
          Require(tools.ReadToken(in).empty(), "EndOfBlock at top level before the end");
          return;
        }
        blocks.pop_back();
        break;
      case kartlo::Token:
        Require(!continued, "Token in continued mode");
        Require(!tag.more, "Token with more");
        Require(!tag.name.empty() && tag.name != "[" && tag.name != "]" && tag.name != "[~",
                "Token that starts an item");
        if (!IsSeparatorOrSpecial(tag.name[0])) RequireWord(tag.name, "Token word");
        break;
      case kartlo::StartTag:
        RequireWord(tag.name, "StartTag name");
        Require(tag.value.empty(), "StartTag with a value");
        if (!tag.more && !continued && startTagsOpen) blocks.push_back(tag.name);
        break;
      case kartlo::Assignment:
        RequireWord(tag.name, "Assignment name");
        RequireWord(tag.value, "Assignment value");
        if (!tag.more && !continued && assignmentsOpen) blocks.push_back(tag.name);
        break;
      default:
        kartlo::fuzz::Finding("unknown item kind");
    }
    continued = tag.more;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kartlo::fuzz::QuietLibraryStreams();
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  try {
    ReadAll(text, data[0]);
  } catch (const FileTools::Error& e) {
    Require(!e.message.empty(), "empty error message");
  }
  return 0;
}
