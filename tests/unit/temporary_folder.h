// A fixture that runs each test in a fresh temporary folder, with APPDATA at "appdata"
// inside it, and reads and writes whole files there.
#pragma once
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "fake_win32.h"

class InTemporaryFolder : public testing::Test {
 protected:
  void SetUp() override {
    ResetFakeWin32();
    char pattern[] = "/tmp/tarvo-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
    ASSERT_EQ(getcwd(previous_, sizeof previous_), previous_);
    ASSERT_EQ(chdir(folder_.c_str()), 0);
    setenv("APPDATA", "appdata", 1);
    mkdir("appdata", 0755);
  }
  void TearDown() override {
    ASSERT_EQ(chdir(previous_), 0);
    ASSERT_EQ(system(("rm -rf " + folder_).c_str()), 0);
  }
  static void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  static std::string Read(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream bytes;
    bytes << file.rdbuf();
    return file ? bytes.str() : "(missing)";
  }

 private:
  std::string folder_;
  char previous_[4096];
};
