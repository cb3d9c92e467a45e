#pragma once

#include <expected>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tolvo::ast {

// An input/output error of the file set, carried as its display text: "{description} (os error
// {n})" for an operating-system failure, "stream did not contain valid UTF-8" for bad content.
// `transient` marks a state of the process rather than of the file (descriptors or kernel memory
// exhausted, a resource temporarily unavailable): the same read may succeed later.
struct IoError {
  std::string text;
  bool transient = false;
};

// The abstract file set that parsing reads through. Implementations are immutable and safe to call
// from several threads at once without a lock.
class AstFileSystem {
 public:
  virtual ~AstFileSystem() = default;

  // Reads the whole file at `path` as UTF-8 text, unchanged (a byte-order mark stays). Memory
  // running out throws std::bad_alloc; a signal handler of the calling thread's host that raises
  // while the read waits throws Interrupted.
  virtual std::expected<std::string, IoError> read_to_string(std::string_view path) const = 0;

  // The paths this file set serves, as a fresh copy.
  virtual std::expected<std::vector<std::string>, IoError> all_files() const = 0;
};

// The file set over the local file system: a fixed list of ".py" paths (sorted by bytes, without
// duplicates) and reading of any path, listed or not.
class StdAstFileSystem final : public AstFileSystem {
 public:
  // Keeps the entries whose extension is exactly "py", sorted and with duplicates removed.
  explicit StdAstFileSystem(std::vector<std::string> files);

  std::expected<std::string, IoError> read_to_string(std::string_view path) const override;
  std::expected<std::vector<std::string>, IoError> all_files() const override;

  const std::vector<std::string>& files() const { return files_; }

 private:
  std::vector<std::string> files_;
};

// True when the last component of `path` has the extension "py" exactly.
bool has_python_extension(std::string_view path);

// True when `bytes` is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool is_valid_utf8(std::string_view bytes);

// The display text of an operating-system error number.
std::string os_error_text(int error_number);

// The error of a failed call that set `error_number`, transient when that number is a state of the
// process (EMFILE, ENFILE, ENOMEM, EAGAIN) rather than of the file.
IoError os_error(int error_number);

// Called when a blocking call was interrupted by a signal (EINTR), before it is retried: runs the
// handlers of the calling thread's host, if it has one, and throws Interrupted when one raised.
void on_interrupted_call();

}  // namespace tolvo::ast
