#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <vector>

namespace kartlo {

class TLabelList;

/// Row lines of a data set file in the writer's layout, gathered in a text buffer that is
/// handed to the stream in large pieces: each value in "%.15g" and a blank, two blanks
/// between groups, label lists as «[A B=2.000000000 ] ».
class TDataRowWriter {
 public:
  explicit TDataRowWriter(std::ostream& out);

  /// Each value followed by one blank.
  void Values(const double* values, int count);
  /// The two blanks between the groups of a row.
  void Gap();
  void Labels(const TLabelList* list);
  /// Ends the row; once enough text has gathered it goes to the stream. False once a write
  /// has failed.
  bool EndRow();
  /// Writes out what is left and flushes; false when any write failed.
  bool Finish();

  /// Appends `value` exactly as printf's "%.15g" writes it.
  static void AppendGeneral(std::string& text, double value);
  /// Appends each value in "%.15g" followed by one blank.
  static void AppendValues(std::string& text, const double* values, int count);
  /// Appends «[A B=2.000000000 ] »: a label of value exactly 1 is written as its text alone,
  /// other values in "%.9f"; a null list is written as an empty one.
  static void AppendLabelList(std::string& text, const TLabelList* list);

 private:
  /// Makes room for `n` more characters, passing the text on first when it would not fit.
  void Reserve(std::size_t n);
  void Put(const char* text, std::size_t n);
  void Pass();

  std::ostream& out_;
  std::vector<char> buffer_;
  std::size_t used_ = 0;
  std::string labels_;  ///< reused for every label list
};

}  // namespace kartlo
