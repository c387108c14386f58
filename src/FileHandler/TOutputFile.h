#pragma once

#include <fstream>
#include <string>
#include <vector>

namespace kartlo {

/// An output file that appears complete or not at all. A regular file (or a
/// name not taken yet) is written to a temporary file beside it, which Commit
/// renames over it, so a failed run leaves an existing file untouched and no
/// partial result behind. Anything else (a device such as /dev/stdout, a FIFO,
/// a symbolic link) is written in place.
class TOutputFile {
 public:
  explicit TOutputFile(const std::string& path);
  /// Removes the temporary file unless Commit succeeded.
  ~TOutputFile();
  TOutputFile(const TOutputFile&) = delete;
  TOutputFile& operator=(const TOutputFile&) = delete;

  /// Whether the file (or its temporary stand-in) could be created.
  bool IsOpen() const { return open_; }
  std::ostream& Stream() { return stream_; }
  /// Flushes and closes the stream and puts the file in place; false when any
  /// write, the close or the rename failed (the temporary file is then removed).
  bool Commit();

 private:
  void Discard();

  std::string path_;
  std::string tempPath_;  ///< empty when writing in place
  std::vector<char> buffer_;
  std::ofstream stream_;
  bool open_ = false;
  bool committed_ = false;
};

}  // namespace kartlo
