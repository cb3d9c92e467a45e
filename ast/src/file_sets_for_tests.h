// File sets for the tests of the caches and the index: texts served from memory, reads counted,
// and faults thrown on purpose.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "ast/src/ast_filesystem.h"
#include "utils/src/fault.h"

namespace tolvo::ast {

// Serves fixed texts by path (a path need not exist on disk), lists `listed`, counts every read,
// and throws an internal fault when asked for a path of `faulty`.
class MemoryFileSystem final : public AstFileSystem {
 public:
  MemoryFileSystem(std::map<std::string, std::string, std::less<>> texts,
                   std::vector<std::string> listed = {},
                   std::set<std::string, std::less<>> faulty = {})
      : texts_(std::move(texts)), listed_(std::move(listed)), faulty_(std::move(faulty)) {}

  std::expected<std::string, IoError> read_to_string(std::string_view path) const override {
    reads_.fetch_add(1, std::memory_order_relaxed);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++reads_by_path_[std::string(path)];
    }
    if (before_read_) {
      if (std::optional<IoError> error = before_read_(path)) return std::unexpected(*error);
    }
    if (faulty_.contains(path))
      throw utils::InternalFault("deliberate fault reading " + std::string(path));
    auto found = texts_.find(path);
    if (found == texts_.end()) return std::unexpected(IoError{os_error_text(2)});
    return found->second;
  }

  std::expected<std::vector<std::string>, IoError> all_files() const override {
    if (fail_listing_) return std::unexpected(IoError{os_error_text(5)});
    return listed_;
  }

  // Makes all_files fail from now on.
  void fail_listing() { fail_listing_ = true; }
  // Runs `hook` at the start of every read from now on: it may block, throw, or return the error
  // the read fails with. Set before any read runs.
  void before_read(std::function<std::optional<IoError>(std::string_view)> hook) {
    before_read_ = std::move(hook);
  }
  int reads() const { return reads_.load(); }
  int reads(std::string_view path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = reads_by_path_.find(path);
    return found == reads_by_path_.end() ? 0 : found->second;
  }

 private:
  std::map<std::string, std::string, std::less<>> texts_;
  std::vector<std::string> listed_;
  std::set<std::string, std::less<>> faulty_;
  bool fail_listing_ = false;
  std::function<std::optional<IoError>(std::string_view)> before_read_;
  mutable std::atomic<int> reads_{0};
  mutable std::mutex mutex_;
  mutable std::map<std::string, int, std::less<>> reads_by_path_;
};

// The local file system, counting the reads of each path.
class CountingFileSystem final : public AstFileSystem {
 public:
  std::expected<std::string, IoError> read_to_string(std::string_view path) const override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++reads_[std::string(path)];
    }
    return disk_.read_to_string(path);
  }
  std::expected<std::vector<std::string>, IoError> all_files() const override { return {}; }

  // Path -> number of reads so far.
  std::map<std::string, int> reads() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return reads_;
  }

 private:
  StdAstFileSystem disk_{{}};
  mutable std::mutex mutex_;
  mutable std::map<std::string, int> reads_;
};

// Every ".py" file under the directory named by the environment variable TOLVO_STDLIB (the
// interpreter's standard library, set by the Makefile), sorted; empty when it is not set.
inline std::vector<std::string> standard_library_files() {
  const char* root = std::getenv("TOLVO_STDLIB");
  std::vector<std::string> files;
  if (root == nullptr || *root == '\0') return files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (entry.is_regular_file() && entry.path().extension() == ".py") {
      files.push_back(entry.path().string());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace tolvo::ast
