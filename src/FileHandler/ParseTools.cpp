// Tag syntax of network and data set files: tokens, nesting comments, items
// and blocks, the typed value checks and the tag writer.

#include <array>
#include <charconv>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <istream>
#include <ostream>
#include <streambuf>
#include <string>
#include <system_error>

#include "FileHandler/FileTools.h"
#include "FileHandler/TagCharClasses.h"
#include "KQmessage/Assert.h"
#include "KQmessage/StrCaseCmp.h"

namespace kartlo {
namespace {

using namespace tagchars;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
/// The blanks a "%ld" or "%f" scan (and strtod) skips in the C locale.
bool IsScanSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

/// The stream's buffer, or null when the stream can no longer be read.
std::streambuf* Source(std::istream& in) { return in.fail() ? nullptr : in.rdbuf(); }

/// Notes on the stream that its end was reached, as a character read would.
void MarkEnd(std::istream& in) { in.setstate(std::ios_base::eofbit); }

/// The next character without consuming it; kEnd at the end of input.
int Peek(std::istream& in, std::streambuf* sb) {
  const int c = sb != nullptr ? sb->sgetc() : kEnd;
  if (c == kEnd) MarkEnd(in);
  return c;
}

/// Skips separators (not comments) and returns the next character unread.
int SkipSeparators(std::istream& in, std::streambuf* sb) {
  int c = Peek(in, sb);
  while (c != kEnd && kClass[c] == kSeparator) {
    sb->sbumpc();
    c = Peek(in, sb);
  }
  return c;
}

/// Skips the rest of a comment. Nesting is counted, not recursed, so a
/// file of nothing but openers cannot exhaust the stack. After a nested
/// comment closes, the character before the next one counts as the nested
/// opener's "*", so «/* a /* b *//» closes both.
void SkipCommentBody(std::istream& in, std::streambuf* sb) {
  std::size_t depth = 1;
  int previous = ' ';
  for (;;) {
    const int c = sb != nullptr ? sb->sbumpc() : kEnd;
    if (c == kEnd) {
      MarkEnd(in);
      FileTools::Fail(in, "Unexpected end of file during comment");
    }
    if (previous == '*' && c == '/') {
      if (--depth == 0) return;
      previous = '*';
    } else if (previous == '/' && c == '*') {
      ++depth;
      previous = ' ';
    } else {
      previous = c;
    }
  }
}

/// Reads the next token into `token` (cleared first); empty at the end of input.
void ScanToken(std::istream& in, std::string& token) {
  token.clear();
  std::streambuf* sb = Source(in);
  if (sb == nullptr) return;
  for (;;) {
    int c = sb->sbumpc();
    while (c != kEnd && kClass[c] == kSeparator) c = sb->sbumpc();
    if (c == kEnd) {
      MarkEnd(in);
      return;
    }
    if (kClass[c] == kSpecial) {
      const int d = Peek(in, sb);
      if (c == '/' && d == '*') {
        sb->sbumpc();
        SkipCommentBody(in, sb);
        continue;  // the comment counts as a separator
      }
      token.push_back(static_cast<char>(c));
      if (c == '[' && d == '~') {
        sb->sbumpc();
        token.push_back('~');
      }
      return;
    }
    token.push_back(static_cast<char>(c));
    for (;;) {
      c = Peek(in, sb);
      if (c == kEnd || kClass[c] == kSpecial) return;  // a special character stays unread
      sb->sbumpc();
      if (kClass[c] == kSeparator) return;
      token.push_back(static_cast<char>(c));
    }
  }
}

/// Consumes the character that Peek has just returned.
void Consume(std::streambuf* sb) { sb->sbumpc(); }

/// "%.*f" text of `value`, of any length.
std::string FormatFixed(double value, int precision) {
  char buffer[64];
  const int n = std::snprintf(buffer, sizeof buffer, "%.*f", precision, value);
  if (n < 0) return {};
  if (static_cast<std::size_t>(n) < sizeof buffer) return std::string(buffer, n);
  std::string text(static_cast<std::size_t>(n), '\0');
  std::snprintf(text.data(), text.size() + 1, "%.*f", precision, value);
  return text;
}

}  // namespace

// --- Tag syntax ------------------------------------------------------------------

std::string FileTools::ReadToken(std::istream& in) {
  ScanToken(in, tokenBuffer_);
  return tokenBuffer_;
}

void FileTools::SkipComment(std::istream& in) { SkipCommentBody(in, Source(in)); }

TagInfo FileTools::ReadTag(std::istream& in, const char* blockdef, bool continued) {
  for (;;) {  // repeated only after a format-version header
    TagInfo tag;
    ScanToken(in, tokenBuffer_);
    if (tokenBuffer_.empty()) {
      // Inside a bracket the end of input is always premature.
      if (blockdef != nullptr || continued) Fail(in, "Unexpected end of file");
      return tag;  // EndOfBlock
    }

    if (continued || tokenBuffer_ == "[") {
      // In continued mode a "]" here (a comment just before the closing
      // bracket, as in «[A = 1 /* c */]») is a special character where a name
      // is due, and refused as such below.
      if (!continued) ScanToken(in, tokenBuffer_);
      if (tokenBuffer_.empty()) Fail(in, "Unexpected end of file");
      if (IsSpecial(tokenBuffer_[0])) Fail(in, "Unexpected special character");
      tag.name = tokenBuffer_;

      std::streambuf* sb = Source(in);
      const int c = SkipSeparators(in, sb);
      if (c == kEnd) Fail(in, "Unexpected end of file");
      if (c == ']') {
        Consume(sb);
        tag.kind = StartTag;
        return tag;
      }
      if (c != '=') {
        tag.kind = StartTag;
        tag.more = true;
        return tag;
      }
      Consume(sb);

      ScanToken(in, tokenBuffer_);
      if (tokenBuffer_.empty()) Fail(in, "Unexpected end of file");
      if (IsSpecial(tokenBuffer_[0])) Fail(in, "Unexpected special character");
      const bool header = !continued && strcasecmp(tag.name.c_str(), "FORMATVERSION") == 0;
      sb = Source(in);
      const int c2 = SkipSeparators(in, sb);
      if (c2 == kEnd) Fail(in, "Unexpected end of file");
      if (c2 != ']') {
        if (header) Fail(in, "Illegal Format of FormatVersion");
        tag.kind = Assignment;
        tag.value = tokenBuffer_;
        tag.more = true;
        return tag;
      }
      Consume(sb);
      if (header) {
        if (ParseNumber(in, tokenBuffer_.c_str()) > 1.0) Fail(in, "Illegal Format Version");
        continue;  // the header is invisible to the caller
      }
      tag.kind = Assignment;
      tag.value = tokenBuffer_;
      return tag;
    }

    if (tokenBuffer_ == "[~") {
      if (blockdef == nullptr) Fail(in, "Unexpected End Tag");  // no block is open
      ScanToken(in, tokenBuffer_);
      if (strcasecmp(tokenBuffer_.c_str(), blockdef) != 0) Fail(in, "Unexpected End Tag");
      ScanToken(in, tokenBuffer_);
      if (tokenBuffer_ != "]") Fail(in, "Expected ']'");
      return tag;  // EndOfBlock
    }

    if (tokenBuffer_ == "]") Fail(in, "Unexpected ']'");
    tag.kind = Token;
    tag.name = tokenBuffer_;
    return tag;
  }
}

std::string FileTools::ExpectStartTag(const TagInfo& tag, std::istream& in, const char* name) {
  if (name != nullptr) {
    if (tag.kind == StartTag && strcasecmp(tag.name.c_str(), name) == 0) return tag.name;
    Fail(in, std::string("[") + name + "] expected");
  }
  if (tag.kind == StartTag) return tag.name;
  Fail(in, "start of block expected");
}

void FileTools::ExpectEndTag(const TagInfo& tag, std::istream& in) {
  if (tag.kind != EndOfBlock) Fail(in, "End Tag expected");
}

// --- Typed values ------------------------------------------------------------------

std::string FileTools::ReadStringValue(const TagInfo& tag, std::istream& in, const char* s,
                                       const char* allowed) {
  KARTLO_ASSERT(s != nullptr);
  if (tag.kind != Assignment || strcasecmp(tag.name.c_str(), s) != 0) {
    // The found item's name follows "expected" directly (empty for an end tag).
    Fail(in, std::string("[") + s + " = <string>] expected" + tag.name);
  }
  if (allowed == nullptr) return tag.value;
  if (strcasecmp(tag.value.c_str(), allowed) == 0) return {};
  Fail(in, std::string("[") + s + " = " + allowed + "] expected");
}

long FileTools::ReadIntegerValue(const TagInfo& tag, std::istream& in, const char* s) {
  KARTLO_ASSERT(s != nullptr);
  if (tag.kind != Assignment || strcasecmp(tag.name.c_str(), s) != 0) {
    Fail(in, std::string("[") + s + " = <integer>] expected");
  }
  return ParseInteger(in, tag.value.c_str());
}

double FileTools::ReadNumberValue(const TagInfo& tag, std::istream& in, const char* s) {
  KARTLO_ASSERT(s != nullptr);
  if (tag.kind != Assignment || strcasecmp(tag.name.c_str(), s) != 0) {
    Fail(in, std::string("[") + s + " = <number>] expected");
  }
  return ParseNumber(in, tag.value.c_str());
}

double FileTools::ReadNumberToken(const TagInfo& tag, std::istream& in) {
  if (tag.kind != Token) Fail(in, "Token (number) expected");
  return ParseNumber(in, tag.name.c_str());
}

long FileTools::ParseInteger(std::istream& in, const char* text) {
  // Ordinary text, blanks, a sign and digits, is converted here; the "%ld"
  // scan of the C library saturates on overflow, and so does this.
  const char* p = text;
  while (IsScanSpace(*p)) ++p;
  const char* number = p;
  if (*p == '+' || *p == '-') ++p;
  if (IsDigit(*p)) {
    const char* end = p;
    while (IsDigit(*end)) ++end;
    const bool negative = *number == '-';
    long value = 0;
    const auto result = std::from_chars(negative ? number : p, end, value);
    if (result.ec == std::errc::result_out_of_range) return negative ? LONG_MIN : LONG_MAX;
    if (result.ec == std::errc() && result.ptr == end) return value;
  }
  long value = 0;
  if (std::sscanf(text, "%ld", &value) != 1) Fail(in, "integer-expected");
  return value;
}

double FileTools::ParseNumber(std::istream& in, const char* text) {
  // Fast path for text that is plainly [blanks][sign]digits[.digits][e[sign]digits]
  // and nothing more: the "%f" scan accepts it, and from_chars rounds exactly
  // as strtod does. Everything else goes through the C library itself.
  const char* p = text;
  while (IsScanSpace(*p)) ++p;
  const char* number = *p == '+' ? p + 1 : p;
  if (*p == '+' || *p == '-') ++p;
  std::size_t digits = 0;
  while (IsDigit(*p)) ++p, ++digits;
  if (*p == '.') {
    ++p;
    while (IsDigit(*p)) ++p, ++digits;
  }
  bool plain = digits > 0;
  if (plain && (*p == 'e' || *p == 'E')) {
    ++p;
    if (*p == '+' || *p == '-') ++p;
    plain = IsDigit(*p);
    while (IsDigit(*p)) ++p;
  }
  if (plain && *p == '\0') {
    double value = 0.0;
    const auto result = std::from_chars(number, p, value);
    if (result.ec == std::errc() && result.ptr == p) return value;
  }
  float scratch = 0.0F;
  if (std::sscanf(text, "%f", &scratch) != 1) Fail(in, "number-expected");
  return std::strtod(text, nullptr);
}

// --- Tag writer ------------------------------------------------------------------

void FileTools::WriteTag(const TagInfo& tag, std::ostream& out, bool bracket) {
  switch (tag.kind) {
    case FormatVersionTag:
      KARTLO_ASSERT(bracket);
      out << "[FormatVersion = 1.0]\n\n";
      return;
    case EndOfBlock:
      if (tag.name.empty()) return;
      KARTLO_ASSERT(bracket);
      out << "[~" << tag.name << "]\n";
      return;
    case StartTag:
      if (bracket) {
        out << '[' << tag.name << "]\n";
      } else {
        out << tag.name << ' ';
      }
      return;
    case Assignment:
      if (bracket) {
        out << '[' << tag.name << " = " << tag.value << "]\n";
      } else {
        out << tag.name << '=' << tag.value << ' ';
      }
      return;
    case Token:
      out << tag.name << ' ';
      return;
  }
  KARTLO_ASSERT_TEXT(false, "known tag kind");
}

void FileTools::WriteFormatVersion(std::ostream& out) {
  WriteTag(TagInfo{FormatVersionTag, {}, {}, false}, out, true);
}

void FileTools::WriteStartTag(std::ostream& out, const char* name, bool bracket) {
  KARTLO_ASSERT(name != nullptr);
  WriteTag(TagInfo{StartTag, name, {}, false}, out, bracket);
}

void FileTools::WriteEndTag(std::ostream& out, const char* name) {
  if (name == nullptr) return;
  WriteTag(TagInfo{EndOfBlock, name, {}, false}, out, true);
}

void FileTools::WriteStringValue(std::ostream& out, const char* name, const char* value,
                                 bool bracket) {
  KARTLO_ASSERT(name != nullptr && value != nullptr);
  WriteTag(TagInfo{Assignment, name, value, false}, out, bracket);
}

void FileTools::WriteIntegerValue(std::ostream& out, const char* name, long value,
                                  bool bracket) {
  KARTLO_ASSERT(name != nullptr);
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  WriteTag(TagInfo{Assignment, name, std::string(buffer, result.ptr), false}, out, bracket);
}

void FileTools::WriteNumberValue(std::ostream& out, const char* name, double value,
                                 int precision, bool bracket) {
  KARTLO_ASSERT(name != nullptr);
  WriteTag(TagInfo{Assignment, name, FormatFixed(value, precision), false}, out, bracket);
}

void FileTools::WriteOpenBracket(std::ostream& out, bool bracket) {
  if (bracket) out << '[';
}

void FileTools::WriteCloseBracket(std::ostream& out, bool bracket, bool newline) {
  if (!bracket) return;
  out << ']';
  if (newline) out << '\n';
}

void FileTools::WriteNewLine(std::ostream& out) { out << std::endl; }

}  // namespace kartlo
