#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <vector>

#include "DataObject/TLabelList.h"

namespace kartlo {

class FileTools;

/// The counts of a data set header; output counts of -1 mean a label list per row.
struct TDataSetHeader {
  int inputs = 0;
  int expectedOutputs = 0;
  int generatedOutputs = 0;
  int error = 0;
  int rows = -1;
};

/// What one row holds, in file order: part 1's inputs and expected outputs (or label list),
/// then part 2's generated outputs (or label list) and errors. A part exists when it has
/// columns or carries labels.
struct TRowLayout {
  bool part1 = false;
  bool part2 = false;
  bool labels1 = false;
  bool labels2 = false;
  int in1 = 0;
  int out1 = 0;
  int in2 = 0;
  int out2 = 0;

  static TRowLayout Of(const TDataSetHeader& header);
};

/// Rows as read: each part's values row after row and one label list per row of a
/// labelled part. Clear keeps the storage, so a block reused for every block of a file
/// allocates nothing once it has grown to size.
struct TRowBlock {
  std::vector<double> in1, out1, in2, out2;
  /// The first lists1 (lists2) entries hold the rows' lists; later ones are spare.
  std::vector<TLabelList> labels1, labels2;
  std::size_t lists1 = 0;
  std::size_t lists2 = 0;

  void Clear();
};

/// Reads a data set file from a stream piece by piece: the header, then rows in as many
/// pieces as the caller likes, then the end. Row values and label lists are taken straight
/// from the stream buffer and accepted or refused exactly as the tag reader and the number
/// parser of FileTools would; nothing is allocated per value.
class TDataSetReader {
 public:
  TDataSetReader(FileTools& tools, std::istream& in) : tools_(tools), in_(in) {}

  /// Opens a data set file for reading, as every reader of data set files does; false when
  /// it cannot be opened.
  static bool Open(const char* file, std::ifstream& in);

  /// Reads the start tag "DataSet", the header and the start tag "Data"; a bad header
  /// surfaces as the start-tag error for "DATA", a header without rows as an error of its own.
  void ReadHeader();
  const TDataSetHeader& Header() const { return header_; }
  const TRowLayout& Layout() const { return layout_; }

  /// Reads `count` more rows into `block` (appending). Per row the values of both parts come
  /// first and then the label lists (part 1's, then part 2's); a label list standing in place
  /// of the values it replaces, as the writer puts it, is accepted as well.
  void ReadRows(int count, TRowBlock& block);
  /// Requires the end tags of "Data" and "DataSet", then the end of the input.
  void ReadEnd();

 private:
  double Value();
  void Values(int count, std::vector<double>& values);
  bool LabelListFollows();
  double ThroughTagReader();

  FileTools& tools_;
  std::istream& in_;
  TDataSetHeader header_;
  TRowLayout layout_;
  std::string dataSetName_;
  std::string dataName_;
  std::string word_;  ///< reused for every value
};

/// Reads one label list «[A B=2.5 ]» into `list`, skipping separators and comments before it.
void ReadLabelListInto(FileTools& tools, std::istream& in, TLabelList& list);

}  // namespace kartlo
