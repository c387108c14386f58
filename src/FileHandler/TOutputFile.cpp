#include "FileHandler/TOutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace kartlo {

namespace {

constexpr std::size_t kBufferSize = 1 << 16;

/// The mode a newly created file gets: 0666 less the process's umask.
mode_t NewFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}

}  // namespace

TOutputFile::TOutputFile(const std::string& path) : path_(path), buffer_(kBufferSize) {
  struct stat st {};
  const bool exists = ::lstat(path.c_str(), &st) == 0;
  const bool replaceable = exists ? S_ISREG(st.st_mode) : errno == ENOENT;
  if (replaceable) {
    std::string pattern = path + ".kartlo-XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) return;
    // mkstemp creates the file private to its owner; give it the mode a plain
    // create would have given the result file.
    const bool modeSet = ::fchmod(fd, NewFileMode()) == 0;
    ::close(fd);
    tempPath_ = pattern;
    if (!modeSet) {
      Discard();
      return;
    }
  }
  stream_.rdbuf()->pubsetbuf(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
  const std::string& target = tempPath_.empty() ? path_ : tempPath_;
  stream_.open(target, std::ios::out | std::ios::trunc | std::ios::binary);
  open_ = stream_.is_open();
  if (!open_) Discard();
}

TOutputFile::~TOutputFile() {
  if (!committed_) Discard();
}

bool TOutputFile::Commit() {
  if (!open_ || committed_) return committed_;
  stream_.flush();
  const bool written = static_cast<bool>(stream_);
  stream_.close();
  if (!written || stream_.fail()) {
    Discard();
    return false;
  }
  if (!tempPath_.empty()) {
    if (std::rename(tempPath_.c_str(), path_.c_str()) != 0) {
      Discard();
      return false;
    }
    tempPath_.clear();
  }
  committed_ = true;
  return true;
}

void TOutputFile::Discard() {
  if (stream_.is_open()) stream_.close();
  if (!tempPath_.empty()) {
    std::remove(tempPath_.c_str());
    tempPath_.clear();
  }
  open_ = false;
}

}  // namespace kartlo
