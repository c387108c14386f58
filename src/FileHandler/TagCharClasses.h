#pragma once

#include <array>
#include <string>

namespace kartlo::tagchars {

using Traits = std::char_traits<char>;
/// What a stream buffer returns at the end of input.
inline constexpr int kEnd = Traits::eof();

enum CharClass : unsigned char { kSeparator, kSpecial, kWord };

/// The tag syntax's byte classes: 0x00-0x20, 0x7F-0xFF and "," separate;
/// "[]/*=<>" are one-character tokens; the remaining printable bytes form words.
constexpr std::array<CharClass, 256> MakeClasses() {
  std::array<CharClass, 256> classes{};
  for (int c = 0; c < 256; ++c) {
    classes[c] = (c <= 0x20 || c >= 0x7F || c == ',') ? kSeparator : kWord;
  }
  for (char c : {'[', ']', '/', '*', '=', '<', '>'}) {
    classes[static_cast<unsigned char>(c)] = kSpecial;
  }
  return classes;
}
inline constexpr std::array<CharClass, 256> kClass = MakeClasses();

/// Class of a byte given as char.
inline CharClass ClassOf(char c) { return kClass[static_cast<unsigned char>(c)]; }
/// Whether a stream buffer's character (kEnd included) is a separator / a word character.
inline bool IsSeparator(int c) { return c != kEnd && kClass[static_cast<unsigned char>(c)] == kSeparator; }
inline bool IsWord(int c) { return c != kEnd && kClass[static_cast<unsigned char>(c)] == kWord; }
inline bool IsSpecial(char c) { return ClassOf(c) == kSpecial; }

}  // namespace kartlo::tagchars
