#pragma once

// Files for the tests that run the tool: reading and writing whole files, the
// bundled fixtures, and a scratch directory per test.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

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

  std::string prefix_;
  fs::path dir_;
};

}  // namespace kartlo::testfiles
