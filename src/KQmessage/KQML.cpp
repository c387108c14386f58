#include "KQmessage/KQML.h"

#include <cstdio>
#include <iostream>

#include "KQmessage/Assert.h"
#include "KQmessage/StrCaseCmp.h"

namespace kartlo {

TKQstructure::Error::Error(std::unique_ptr<TKQstructure> msg) : message(std::move(msg)) {}
TKQstructure::Error::Error(const Error& other)
    : message(other.message ? std::make_unique<TKQstructure>(*other.message) : nullptr) {}
TKQstructure::Error& TKQstructure::Error::operator=(const Error& other) {
  if (this != &other) {
    message = other.message ? std::make_unique<TKQstructure>(*other.message) : nullptr;
  }
  return *this;
}
TKQstructure::Error::~Error() = default;

TKQstructure::TKQstructure() : head("unknown") {}
TKQstructure::TKQstructure(const char* h) : head(h) {}
TKQstructure::TKQstructure(const TKQstructure& other)
    : head(other.head), capacity(other.count), count(other.count) {
  entries.reserve(other.entries.size());
  for (const auto& [key, value] : other.entries) {
    entries.emplace_back(key, std::make_unique<TKQstructure>(*value));
  }
}
TKQstructure& TKQstructure::operator=(const TKQstructure& other) {
  if (this == &other) return *this;
  TKQstructure copy(other);
  head = std::move(copy.head);
  entries = std::move(copy.entries);
  capacity = copy.capacity;
  count = copy.count;
  return *this;
}
TKQstructure::~TKQstructure() = default;

namespace {

bool IsSeparator(unsigned char c) { return (c >= 0x01 && c <= 0x20) || c >= 0x7F; }

bool IsSpecial(char c, bool specials) { return specials && (c == '(' || c == ')' || c == ':'); }

/// The next token at `cursor`: "" at the end of the text, one of "(", ")", ":"
/// when `specials` is set and one begins the token, otherwise a word (a ":"
/// inside a word belongs to it).
std::string NextToken(const char*& cursor, bool specials) {
  while (*cursor != '\0' && IsSeparator(static_cast<unsigned char>(*cursor))) ++cursor;
  if (*cursor == '\0') return std::string();
  if (IsSpecial(*cursor, specials)) return std::string(1, *cursor++);
  const char* start = cursor;
  while (*cursor != '\0' && !IsSeparator(static_cast<unsigned char>(*cursor)) &&
         !(specials && (*cursor == '(' || *cursor == ')'))) {
    ++cursor;
  }
  return std::string(start, cursor);
}

[[noreturn]] void ThrowMalformed(const char* reason) {
  auto error = TKQstructure::MakeError("invalid-message");
  error->SetString("reason", reason);
  throw TKQstructure::Error(std::move(error));
}

/// A word is any token other than the end of the text and the special characters.
void CheckWord(const std::string& token) {
  if (!token.empty() && token[0] != '(' && token[0] != ')' && token[0] != ':') return;
  std::cerr << "special character unexpected" << std::endl;
  ThrowMalformed(token.empty() ? "end-of-text" : "special-character-unexpected");
}

std::unique_ptr<TKQstructure> ParseValue(const char*& cursor, int depth) {
  auto result = std::make_unique<TKQstructure>();
  std::string token = NextToken(cursor, true);
  if (token != "(") {
    CheckWord(token);
    result->head = std::move(token);
    return result;
  }
  if (depth >= TKQstructure::kMaxParseDepth) ThrowMalformed("nesting-too-deep");
  token = NextToken(cursor, true);
  CheckWord(token);
  result->head = std::move(token);
  for (token = NextToken(cursor, true); token != ")"; token = NextToken(cursor, true)) {
    if (token.empty()) ThrowMalformed("unterminated-list");
    if (token != ":") ThrowMalformed("keyword-expected");
    std::string key = NextToken(cursor, true);
    CheckWord(key);
    result->SetValue(key.c_str(), ParseValue(cursor, depth + 1));
  }
  return result;
}

void AppendText(const TKQstructure& s, std::string& out) {
  if (s.IsAtom()) {
    out += s.head;
    return;
  }
  out += '(';
  out += s.head;
  for (const auto& [key, value] : s.entries) {
    out += " :";
    out += key;
    out += ' ';
    AppendText(*value, out);
  }
  out += ')';
}

}  // namespace

std::unique_ptr<TKQstructure> TKQstructure::Parse(const char*& cursor) {
  return ParseValue(cursor, 0);
}

std::unique_ptr<TKQstructure> TKQstructure::FromText(const char*& cursor) {
  auto result = Parse(cursor);
  const char* rest = cursor;
  if (!NextToken(rest, false).empty()) ThrowMalformed("text-after-message");
  cursor = rest;
  return result;
}

std::unique_ptr<TKQstructure> TKQstructure::MakeError(const char* type) {
  auto error = std::make_unique<TKQstructure>("error");
  error->SetString("type", type);
  return error;
}

std::string TKQstructure::ToText() const {
  std::string text;
  AppendText(*this, text);
  return text;
}

void TKQstructure::Print() const { std::cout << ToText(); }

void TKQstructure::PrintLine() const { std::cout << ToText() << '\n'; }

namespace {

/// Index of the pair whose key equals `key` without regard to case, searched
/// from the newest pair to the oldest; -1 when there is none.
int FindIndex(const std::vector<TKQstructure::Entry>& entries, const char* key) {
  for (int i = static_cast<int>(entries.size()) - 1; i >= 0; --i) {
    if (kartlo::strcasecmp(entries[static_cast<size_t>(i)].first.c_str(), key) == 0) return i;
  }
  return -1;
}

std::string Format(const char* format, auto value) {
  const int length = std::snprintf(nullptr, 0, format, value);
  std::string text(static_cast<size_t>(length), '\0');
  std::snprintf(text.data(), text.size() + 1, format, value);
  return text;
}

}  // namespace

void TKQstructure::SetValue(const char* key, std::unique_ptr<TKQstructure> newval) {
  KARTLO_ASSERT_TEXT(newval != nullptr, "newval != NULL");
  const int index = FindIndex(entries, key);
  if (index >= 0) {
    entries[static_cast<size_t>(index)].second = std::move(newval);
    return;
  }
  if (count == capacity) {
    capacity = capacity * 2 < 16 ? 16 : capacity * 2;
    entries.reserve(static_cast<size_t>(capacity));
  }
  entries.emplace_back(key, std::move(newval));
  ++count;
}

void TKQstructure::SetString(const char* key, const char* text) {
  SetValue(key, std::make_unique<TKQstructure>(text));
}

void TKQstructure::SetInteger(const char* key, long value) {
  SetValue(key, std::make_unique<TKQstructure>(Format("%ld", value).c_str()));
}

void TKQstructure::SetNumber(const char* key, double value) {
  SetValue(key, std::make_unique<TKQstructure>(Format("%f", value).c_str()));
}

void TKQstructure::SetBoolean(const char* key, bool value) {
  SetString(key, value ? "true" : "false");
}

TKQstructure* TKQstructure::Find(const char* key) const {
  const int index = FindIndex(entries, key);
  return index >= 0 ? entries[static_cast<size_t>(index)].second.get() : nullptr;
}

TKQstructure* TKQstructure::Get(const char* key) const {
  TKQstructure* value = Find(key);
  KARTLO_ASSERT_TEXT(value != nullptr, "0");
  return value;
}

TKQstructure* TKQstructure::GetRequired(const char* key) const {
  TKQstructure* value = Find(key);
  if (value == nullptr) {
    auto error = MakeError("invalid-message");
    error->SetString("expected", key);
    throw Error(std::move(error));
  }
  return value;
}

void TKQstructure::Require(const char* key, const char* value) const {
  const TKQstructure* found = GetRequired(key);
  if (value[0] == '\0' || kartlo::strcasecmp(found->head.c_str(), value) == 0) return;
  auto error = MakeError("invalid-message");
  error->SetString("tag", key);
  error->SetString("expected-value", value);
  throw Error(std::move(error));
}

void TKQstructure::Remove(const char* key) {
  const int index = FindIndex(entries, key);
  if (index < 0) return;
  const auto last = entries.size() - 1;
  if (static_cast<size_t>(index) != last) entries[static_cast<size_t>(index)] = std::move(entries[last]);
  entries.pop_back();
  --count;
}

bool KQToBoolean(const char* text) {
  if (kartlo::strcasecmp(text, "TRUE") == 0) return true;
  if (kartlo::strcasecmp(text, "FALSE") == 0) return false;
  auto error = TKQstructure::MakeError("type-error");
  error->SetString("expected", "boolean");
  throw TKQstructure::Error(std::move(error));
}

long KQToInteger(const char* text) {
  long value = 0;
  if (std::sscanf(text, "%ld", &value) == 1) return value;
  auto error = TKQstructure::MakeError("invalid-message");
  error->SetString("integer-expected", text);
  throw TKQstructure::Error(std::move(error));
}

double KQToNumber(const char* text) {
  double value = 0.0;
  if (std::sscanf(text, "%lf", &value) == 1) return value;
  auto error = TKQstructure::MakeError("invalid-message");
  error->SetString("number-expected", text);
  throw TKQstructure::Error(std::move(error));
}

long KQAsLong(const char* text) {
  long value = 0;
  const int err = std::sscanf(text, "%ld", &value);
  KARTLO_ASSERT(err == 1);
  return value;
}

double KQAsDouble(const char* text) {
  double value = 0.0;
  const int err = std::sscanf(text, "%lf", &value);
  KARTLO_ASSERT(err == 1);
  return value;
}

std::string KQJoinArguments(int argc, const char* const* argv) {
  std::string text;
  for (int i = 1; i < argc; ++i) {
    text += argv[i];
    text += ' ';
  }
  return text;
}

}  // namespace kartlo
