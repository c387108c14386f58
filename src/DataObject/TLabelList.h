#pragma once

#include <string>
#include <vector>

namespace kartlo {

/// One label of a row: a text and its value (1 for a plain label, a sum after accumulation).
class TLabel {
 public:
  TLabel() = default;
  TLabel(std::string labelText, double labelValue);

  double value = 0.0;
  /// Empty in a default-constructed entry.
  std::string text;
};

/// The labels of a row; adding a text that is already present sums the values.
class TLabelList {
 public:
  /// An empty list.
  TLabelList() = default;
  /// A list of one entry; `text` must not be null.
  TLabelList(const char* text, double value);
  TLabelList(const TLabelList& other) = default;
  /// Safe for self-assignment.
  TLabelList& operator=(const TLabelList& other);
  TLabelList(TLabelList&& other) noexcept;
  TLabelList& operator=(TLabelList&& other) noexcept;
  ~TLabelList() = default;

  /// Adds `value` to the entry whose text equals `text` exactly (case-sensitive);
  /// without such an entry appends a new one at the end. `text` must not be null.
  void Add(const char* text, double value);

  /// Empties the list.
  void Clear();

  /// Always equal to labels.size(); read it, never write it.
  int numLabels = 0;
  /// The entries in the order their texts were first added.
  std::vector<TLabel> labels;
};

}  // namespace kartlo
