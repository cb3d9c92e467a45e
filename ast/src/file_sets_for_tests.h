// File sets for the tests of the caches and the index: texts served from memory, reads counted,
// and faults thrown on purpose.
#pragma once

#include <atomic>
#include <map>
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
  int reads() const { return reads_.load(); }

 private:
  std::map<std::string, std::string, std::less<>> texts_;
  std::vector<std::string> listed_;
  std::set<std::string, std::less<>> faulty_;
  bool fail_listing_ = false;
  mutable std::atomic<int> reads_{0};
};

}  // namespace tolvo::ast
