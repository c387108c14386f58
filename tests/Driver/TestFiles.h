#pragma once

// Files for the tests that run the tool: reading and writing whole files, the
// bundled fixtures, a scratch directory per test, and runs of the built binary.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace kartlo::testfiles {

namespace fs = std::filesystem;

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

/// A file of tests/data/recall.
inline std::string Fixture(const char* name) {
  return ReadFile(fs::path(KARTLO_TEST_DATA_DIR) / "recall" / name);
}

/// `text` with the first occurrence of `from` replaced; the test fails if there is none.
inline std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const auto at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

/// `arg` as one word for the shell.
inline std::string Quote(const std::string& arg) {
  std::string quoted = "'";
  for (char c : arg) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

/// What a run of the binary left: its exit status (-1 when it did not exit) and streams.
struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

/// A fresh directory for each test, removed afterwards.
class ScratchDirTest : public ::testing::Test {
 protected:
  explicit ScratchDirTest(const char* prefix) : prefix_(prefix) {}
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           (prefix_ + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path Path(const std::string& name) const { return dir_ / name; }

#ifdef KARTLO_BINARY
  /// Runs the built Kartlo with `args` through the shell, after `launcher` (environment
  /// settings, limits, a timeout), its streams caught in files of the directory.
  RunResult RunKartlo(const std::string& launcher, const std::vector<std::string>& args) const {
    std::string command = launcher + Quote(KARTLO_BINARY);
    for (const std::string& a : args) command += " " + Quote(a);
    command += " >" + Quote(Path("stdout").string()) + " 2>" + Quote(Path("stderr").string());
    const int raw = std::system(command.c_str());
    RunResult run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = ReadFile(Path("stdout"));
    run.err = ReadFile(Path("stderr"));
    return run;
  }
#endif

  std::string prefix_;
  fs::path dir_;
};

}  // namespace kartlo::testfiles
