#include "ast/src/ast_filesystem.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <thread>

#include "ast/src/host_thread.h"
#include "ast/src/signals_for_tests.h"
#include "ast/src/transient.h"

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

TEST(OsErrorTest, StatesOfTheProcessAreTransient) {
  for (int error : {EMFILE, ENFILE, ENOMEM, EAGAIN}) EXPECT_TRUE(os_error(error).transient) << error;
  for (int error : {ENOENT, EACCES, EISDIR, EIO, ENOTDIR}) {
    EXPECT_FALSE(os_error(error).transient) << error;
  }
  EXPECT_EQ(os_error(EMFILE).text, "Too many open files (os error 24)");
}

// A FIFO read on a thread of its own while SIGUSR1, whose handler does not restart system calls,
// keeps interrupting it.
class InterruptedReadTest : public ReadToStringTest {
 protected:
  void SetUp() override {
    ReadToStringTest::SetUp();
    fifo_ = (dir_ / "pipe.py").string();
    ASSERT_EQ(::mkfifo(fifo_.c_str(), 0600), 0);
    ASSERT_TRUE(signal_.installed());
  }

  // Starts the read of the FIFO with `host` as the reading thread's host.
  void start_read(HostThread* host) {
    reader_ = std::thread([this, host] {
      HostThreadScope scope(host);
      try {
        result_ = StdAstFileSystem({}).read_to_string(fifo_);
      } catch (const Interrupted&) {
        interrupted_ = true;
      }
      done_.store(true);
    });
  }

  // Interrupts the reader until `enough` holds or the reader is done.
  void interrupt_until(const std::function<bool()>& enough) {
    test_support::InterruptingSignal::interrupt_until(reader_, done_, enough);
  }

  void write_fifo(const std::string& text) {
    int fd = ::open(fifo_.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    ::close(fd);
  }

  test_support::InterruptingSignal signal_;
  std::string fifo_;
  std::thread reader_;
  std::atomic<bool> done_{false};
  bool interrupted_ = false;
  std::optional<std::expected<std::string, IoError>> result_;
};

TEST_F(InterruptedReadTest, AHandlerThatRaisesEndsTheRead) {
  test_support::SignalledHost host(/*raises=*/true);
  start_read(&host);
  interrupt_until([&] { return false; });
  reader_.join();
  EXPECT_TRUE(interrupted_);
  EXPECT_EQ(host.runs.load(), 1);
}

TEST_F(InterruptedReadTest, OtherwiseTheReadGoesOn) {
  test_support::SignalledHost host;
  start_read(&host);
  interrupt_until([&] { return host.runs.load() >= 2; });
  write_fifo("x = 1\n");
  reader_.join();
  ASSERT_TRUE(result_.has_value());
  EXPECT_EQ(result_->value(), "x = 1\n");
}

TEST_F(InterruptedReadTest, AThreadWithoutAHostRetries) {
  start_read(nullptr);
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
  interrupt_until([&] { return std::chrono::steady_clock::now() > until; });
  write_fifo("y = 2\n");
  reader_.join();
  ASSERT_TRUE(result_.has_value());
  EXPECT_EQ(result_->value(), "y = 2\n");
}

}  // namespace
}  // namespace tolvo::ast
