#include "ast/src/ast_filesystem.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace tolvo::ast {
namespace {

TEST(StdAstFileSystemTest, KeepsPythonPathsSortedAndDeduplicated) {
  StdAstFileSystem fs({"b.py", "a.py", "b.py", "notes.txt", "A.py", "a.py"});
  EXPECT_EQ(fs.files(), (std::vector<std::string>{"A.py", "a.py", "b.py"}));
  EXPECT_EQ(fs.all_files().value(), fs.files());
}

TEST(StdAstFileSystemTest, ExtensionIsReadFromTheLastComponent) {
  const char* kept[] = {"x.py",     "dir/x.py", "dir/x.py/", "x.py/.",   "..py",
                        "/abs/x.py", "./a.py",  "a//b.py",   "./x.py/./"};
  const char* dropped[] = {"x.PY", "x.pyi", "x.py~", ".py", "py", "x.", "x.py/..", "", "/",
                           ".",    "./",    "..",    "a.py/b"};
  for (const char* path : kept) EXPECT_TRUE(has_python_extension(path)) << path;
  for (const char* path : dropped) EXPECT_FALSE(has_python_extension(path)) << path;
}

TEST(StdAstFileSystemTest, EntriesStayAsWritten) {
  StdAstFileSystem fs({"a.py", "./a.py", "dir/x.py/", "x.py/."});
  EXPECT_EQ(fs.files(), (std::vector<std::string>{"./a.py", "a.py", "dir/x.py/", "x.py/."}));
}

class ReadToStringTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("tolvo_fs_test_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string write(const std::string& name, const std::string& bytes) {
    std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  std::filesystem::path dir_;
};

TEST_F(ReadToStringTest, ReturnsBytesUnchanged) {
  StdAstFileSystem fs({});
  const std::string texts[] = {"", "x = 1\r\ny = 2\r", "\xEF\xBB\xBFprint('\xC3\xA9')\n",
                               std::string(200000, 'a') + "\xF0\x9F\x98\x80"};
  int i = 0;
  for (const std::string& text : texts) {
    auto result = fs.read_to_string(write("f" + std::to_string(i++) + ".txt", text));
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(*result, text);
  }
}

TEST_F(ReadToStringTest, RefusesInvalidUtf8) {
  StdAstFileSystem fs({});
  const std::string bad[] = {"\xFF", "ok\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                             std::string(100, 'a') + "\x80"};
  int i = 0;
  for (const std::string& bytes : bad) {
    auto result = fs.read_to_string(write("bad" + std::to_string(i++), bytes));
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().text, "stream did not contain valid UTF-8");
  }
}

TEST_F(ReadToStringTest, ReportsOperatingSystemErrors) {
  StdAstFileSystem fs({});
  auto missing = fs.read_to_string((dir_ / "missing.py").string());
  ASSERT_FALSE(missing.has_value());
  EXPECT_EQ(missing.error().text, "No such file or directory (os error 2)");

  auto directory = fs.read_to_string(dir_.string());
  ASSERT_FALSE(directory.has_value());
  EXPECT_EQ(directory.error().text, "Is a directory (os error 21)");

  auto nul = fs.read_to_string(std::string_view("a\0b", 3));
  ASSERT_FALSE(nul.has_value());
}

TEST_F(ReadToStringTest, ReadsUnlistedPaths) {
  StdAstFileSystem fs({"other.py"});
  EXPECT_EQ(fs.read_to_string(write("notes.txt", "hello")).value(), "hello");
}

}  // namespace
}  // namespace tolvo::ast
