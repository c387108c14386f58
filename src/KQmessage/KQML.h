#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace kartlo {

/// A message structure: a head word with ordered keyword/value pairs whose
/// values are structures again; text form "(head :key value ...)".
/// A structure without pairs is an atom standing for its head word.
class TKQstructure {
 public:
  /// Thrown by the conversions and by GetRequired/Require; carries an error
  /// structure "(error :type ...)" that belongs to the catcher.
  struct Error {
    std::unique_ptr<TKQstructure> message;
    explicit Error(std::unique_ptr<TKQstructure> msg);
    Error(const Error& other);
    Error& operator=(const Error& other);
    Error(Error&&) noexcept = default;
    Error& operator=(Error&&) noexcept = default;
    ~Error();
  };

  using Entry = std::pair<std::string, std::unique_ptr<TKQstructure>>;

  /// Head "unknown", no pairs, capacity 16.
  TKQstructure();
  /// Head copied from `head`, no pairs, capacity 16.
  explicit TKQstructure(const char* head);
  /// Deep copy; the copy's capacity equals the source's count.
  TKQstructure(const TKQstructure& other);
  /// Deep copy replacing the previous pairs; self-assignment changes nothing.
  TKQstructure& operator=(const TKQstructure& other);
  ~TKQstructure();

  /// Lists nested deeper than this are refused by Parse.
  static constexpr int kMaxParseDepth = 1000;

  /// Parses one value at `cursor` and advances past it. Malformed text throws
  /// Error with "(error :type invalid-message :reason <r>)", where <r> is
  /// special-character-unexpected or end-of-text (a word is missing; the parser
  /// then also writes "special character unexpected" and a line end on standard
  /// error), keyword-expected (a list item is neither ":" nor ")"),
  /// unterminated-list (the text ends inside a list) or nesting-too-deep (more
  /// than kMaxParseDepth nested lists). The cursor is left where the fault was
  /// found; nothing past the text's end is read.
  static std::unique_ptr<TKQstructure> Parse(const char*& cursor);
  /// Parse, then only separators may remain; anything else throws Error with
  /// "(error :type invalid-message :reason text-after-message)".
  static std::unique_ptr<TKQstructure> FromText(const char*& cursor);
  /// A new "(error :type <type>)".
  static std::unique_ptr<TKQstructure> MakeError(const char* type);

  /// Writes the text form on standard output, without a line end.
  void Print() const;
  /// Print followed by a line end.
  void PrintLine() const;
  /// The text form as a string (what Print writes).
  std::string ToText() const;

  /// Takes ownership of `newval` (must not be null); replaces the value of `key` or appends.
  void SetValue(const char* key, std::unique_ptr<TKQstructure> newval);
  void SetString(const char* key, const char* text);
  void SetInteger(const char* key, long value);
  void SetNumber(const char* key, double value);
  void SetBoolean(const char* key, bool value);
  /// The value of `key` (any case), or null.
  TKQstructure* Find(const char* key) const;
  /// The value of `key`, which must exist (assertion otherwise).
  TKQstructure* Get(const char* key) const;
  /// The value of `key`; throws Error "(error :type invalid-message :expected <key>)" when absent.
  TKQstructure* GetRequired(const char* key) const;
  /// Checks that `key` exists and, unless `value` is empty, that its head equals `value` (any case).
  void Require(const char* key, const char* value) const;
  /// Removes the pair of `key`; the last pair moves into its place.
  void Remove(const char* key);

  const char* GetHead() const { return head.c_str(); }
  bool IsAtom() const { return count == 0; }

  std::string head;
  std::vector<Entry> entries;
  int capacity = 16;
  int count = 0;
};

/// "TRUE"/"FALSE" in any case; anything else throws "(error :type type-error :expected boolean)".
bool KQToBoolean(const char* text);
/// "%ld" scan; throws "(error :type invalid-message :integer-expected <text>)".
long KQToInteger(const char* text);
/// "%lf" scan; throws "(error :type invalid-message :number-expected <text>)".
double KQToNumber(const char* text);
/// KQToInteger for text known to be valid (assertion "err == 1" otherwise).
long KQAsLong(const char* text);
/// KQToNumber for text known to be valid (assertion "err == 1" otherwise).
double KQAsDouble(const char* text);
/// argv[1] ... argv[argc-1], each followed by one blank; empty when argc <= 1.
std::string KQJoinArguments(int argc, const char* const* argv);

}  // namespace kartlo
