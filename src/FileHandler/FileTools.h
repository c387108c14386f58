#pragma once

#include <iosfwd>
#include <memory>
#include <string>

#include "KQmessage/KQML.h"

namespace kartlo {

class Data;
class TLabelList;
class TBasicNetwork;

/// Kinds of item met in a tag file.
enum TagKind {
  EndOfBlock = 0,
  Token = 1,
  StartTag = 2,
  Assignment = 3,
  FormatVersionTag = 5,
};

/// One item read from a tag file: «[~Name]», a bare token, «[Name]» or «[Name = value]».
struct TagInfo {
  TagKind kind = EndOfBlock;
  std::string name;   ///< tag name, or the token itself for Token
  std::string value;  ///< value of an Assignment
  bool more = false;  ///< the item's bracket is still open (read on in continued mode)
};

/// The file-handling object: tag-file reading and writing, data set files and
/// network files. Only the operations taking a file name touch the disk; the
/// others work on the streams they are given.
class FileTools {
 public:
  /// Raised for bad file content (or a failed write); the stream involved is noted.
  struct Error {
    std::string message;
    std::istream* input = nullptr;
    std::ostream* output = nullptr;
  };

  /// Return codes of the data set file operations.
  static constexpr int kSuccess = 0;
  static constexpr int kCannotOpen = -81;    ///< the file cannot be opened for reading
  static constexpr int kBadHeader = -82;     ///< bad header, or an unexpected part 2
  static constexpr int kBadRows = -83;       ///< no part, unequal or negative row counts
  static constexpr int kWriteFailed = -84;   ///< the file cannot be created, written or closed

  // --- Tag syntax: tokens, comments, items, blocks ---------------------------
  /// The next token: a word, one special character, "[~", or "" at the end of input.
  std::string ReadToken(std::istream& in);
  /// Skips the rest of a (nesting) comment whose "/*" has just been read.
  void SkipComment(std::istream& in);
  /// The next item; `blockdef` names the innermost open block (null at top level).
  TagInfo ReadTag(std::istream& in, const char* blockdef, bool continued);
  /// Requires a StartTag (named `name`, any case, unless null); returns its name.
  std::string ExpectStartTag(const TagInfo& tag, std::istream& in, const char* name);
  /// Requires EndOfBlock.
  void ExpectEndTag(const TagInfo& tag, std::istream& in);

  // --- Typed values -----------------------------------------------------------
  /// Requires an Assignment named `s`; returns its value, or "" when it equals `allowed`.
  std::string ReadStringValue(const TagInfo& tag, std::istream& in, const char* s,
                              const char* allowed);
  long ReadIntegerValue(const TagInfo& tag, std::istream& in, const char* s);
  double ReadNumberValue(const TagInfo& tag, std::istream& in, const char* s);
  /// Requires a Token holding a number.
  double ReadNumberToken(const TagInfo& tag, std::istream& in);
  /// Accepts exactly what a "%ld" scan accepts; "integer-expected" otherwise.
  long ParseInteger(std::istream& in, const char* text);
  /// Accepts exactly what a "%f" scan accepts and converts as strtod; "number-expected" otherwise.
  double ParseNumber(std::istream& in, const char* text);

  // --- Tag writer -------------------------------------------------------------
  void WriteTag(const TagInfo& tag, std::ostream& out, bool bracket);
  void WriteFormatVersion(std::ostream& out);
  void WriteStartTag(std::ostream& out, const char* name, bool bracket);
  /// Writes «[~name]» and a line end; a null name writes nothing.
  void WriteEndTag(std::ostream& out, const char* name);
  void WriteStringValue(std::ostream& out, const char* name, const char* value, bool bracket);
  void WriteIntegerValue(std::ostream& out, const char* name, long value, bool bracket);
  /// The value in "%.*f" with `precision` digits after the point, written in full.
  void WriteNumberValue(std::ostream& out, const char* name, double value, int precision,
                        bool bracket);
  void WriteOpenBracket(std::ostream& out, bool bracket);
  void WriteCloseBracket(std::ostream& out, bool bracket, bool newline);
  void WriteNewLine(std::ostream& out);

  // --- Data set files -----------------------------------------------------------
  /// Reads a whole file; each existing part becomes a new Data, a missing part stays null.
  int LoadDataSets(const char* file, std::unique_ptr<Data>& expected,
                   std::unique_ptr<Data>& generated,
                   std::unique_ptr<TKQstructure> report = nullptr);
  /// LoadDataSets for part 1 only; kBadHeader when the file has a part 2.
  int LoadDataSet(const char* file, std::unique_ptr<Data>& expected);
  /// LoadDataSet on a stream: part 1 is delivered, a part 2 gives kBadHeader and is dropped.
  int ReadDataSet(std::istream& in, std::unique_ptr<Data>& expected);
  /// The whole-file reader on a stream (what LoadDataSets runs after opening).
  int ReadDataSets(std::istream& in, std::unique_ptr<Data>& expected,
                   std::unique_ptr<Data>& generated);
  /// Reads `*rows` rows starting `*offset` bytes after the start tag "Data".
  int LoadDataBlock(const char* file, int* offset, int* rows, std::unique_ptr<Data>& expected,
                    std::unique_ptr<Data>& generated);
  int LoadDataBlock(const char* file, int* offset, int* rows, std::unique_ptr<Data>& expected);
  /// LoadDataBlock on a seekable stream.
  int ReadDataBlock(std::istream& in, int* offset, int* rows, std::unique_ptr<Data>& expected,
                    std::unique_ptr<Data>& generated);
  /// Reads the header tags; leaves the first tag after the header in `tag`.
  int ReadDataSetHeader(std::istream& in, int& inputs, int& expectedOutputs,
                        int& generatedOutputs, int& error, int& rows, TagInfo& tag);
  /// Writes a complete data set file (either part may be null).
  int SaveDataSet(const char* file, Data* expected, Data* generated,
                  std::unique_ptr<TKQstructure> report = nullptr);
  /// Writes a complete data set to a stream (what SaveDataSet writes to its file).
  int WriteDataSet(std::ostream& out, Data* expected, Data* generated);
  int WriteDataSetHeader(const char* file, int inputs, int expectedOutputs,
                         int generatedOutputs, int error, int rows);
  int WriteDataRows(const char* file, Data* expected, Data* generated,
                    std::unique_ptr<TKQstructure> report = nullptr);
  int WriteDataSetEnd(const char* file);
  /// The three writing steps on a stream; kWriteFailed when the stream fails.
  int WriteDataSetHeader(std::ostream& out, int inputs, int expectedOutputs,
                         int generatedOutputs, int error, int rows);
  int WriteDataRows(std::ostream& out, Data* expected, Data* generated);
  int WriteDataSetEnd(std::ostream& out);
  /// Reads one label list «[A B=2.5 ]».
  std::unique_ptr<TLabelList> ReadLabelList(std::istream& in);
  void WriteLabelList(std::ostream& out, const TLabelList* list);
  /// Tells what the file is: "(data :rows ...)", "network" or an error structure.
  std::unique_ptr<TKQstructure> ProbeFile(const char* file);
  /// ProbeFile on an open stream.
  std::unique_ptr<TKQstructure> ProbeStream(std::istream& in);

  // --- Network files --------------------------------------------------------------
  /// Opens and reads a network file; "Error on File Open" when it cannot be opened.
  std::unique_ptr<TBasicNetwork> LoadNetwork(const char* filename,
                                             std::unique_ptr<TKQstructure> report = nullptr);
  std::unique_ptr<TBasicNetwork> ReadNetwork(std::istream& in,
                                             std::unique_ptr<TKQstructure> report = nullptr);
  /// Writes a network file; a file that cannot be created or written is an Error.
  void SaveNetwork(const char* filename, TBasicNetwork* network,
                   std::unique_ptr<TKQstructure> report = nullptr);
  void WriteNetwork(std::ostream& out, TBasicNetwork* network,
                    std::unique_ptr<TKQstructure> report = nullptr);

  /// Throws Error with `message` and the input stream.
  [[noreturn]] static void Fail(std::istream& in, std::string message);

 private:
  std::string tokenBuffer_;  ///< reused while a word is collected
};

}  // namespace kartlo
