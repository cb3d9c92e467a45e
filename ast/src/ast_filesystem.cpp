#include "ast/src/ast_filesystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "ast/src/host_thread.h"
#include "ast/src/path_components.h"
#include "ast/src/transient.h"

namespace tolvo::ast {
namespace {

constexpr char kInvalidUtf8[] = "stream did not contain valid UTF-8";

// Closes the descriptor on every path out of the read.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

bool has_python_extension(std::string_view path) {
  PathComponent last;
  if (!last_path_component(path, &last) || last.kind != PathComponent::Kind::kNormal) return false;
  std::string_view extension;
  return component_extension(last.text, &extension) && extension == "py";
}

IoError os_error(int error_number) {
  bool transient = error_number == EMFILE || error_number == ENFILE || error_number == ENOMEM ||
                   error_number == EAGAIN;
  return IoError{os_error_text(error_number), transient};
}

void on_interrupted_call() {
  HostThread* host = current_host_thread();
  if (host != nullptr && !host->run_signal_handlers()) throw Interrupted();
}

std::string os_error_text(int error_number) {
  char buffer[256];
  // The GNU strerror_r may return a static string instead of filling the buffer.
  const char* description = strerror_r(error_number, buffer, sizeof buffer);
  return std::string(description) + " (os error " + std::to_string(error_number) + ")";
}

bool is_valid_utf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* end = p + bytes.size();
  while (p < end) {
    // Source files are mostly ASCII: check eight bytes at a time.
    while (end - p >= 8) {
      uint64_t word;
      std::memcpy(&word, p, 8);
      if (word & 0x8080808080808080ULL) break;
      p += 8;
    }
    if (p >= end) break;
    unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    size_t length;
    unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      if (c == 0xE0) low = 0xA0;
      if (c == 0xED) high = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      if (c == 0xF0) low = 0x90;
      if (c == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (static_cast<size_t>(end - p) < length) return false;
    if (p[1] < low || p[1] > high) return false;
    for (size_t i = 2; i < length; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
    }
    p += length;
  }
  return true;
}

StdAstFileSystem::StdAstFileSystem(std::vector<std::string> files) : files_(std::move(files)) {
  std::erase_if(files_, [](const std::string& path) { return !has_python_extension(path); });
  std::sort(files_.begin(), files_.end());
  files_.erase(std::unique(files_.begin(), files_.end()), files_.end());
}

std::expected<std::string, IoError> StdAstFileSystem::read_to_string(std::string_view path) const {
  if (path.find('\0') != std::string_view::npos) {
    return std::unexpected(IoError{"file name contained an unexpected NUL byte"});
  }
  std::string name(path);
  int opened;
  while ((opened = ::open(name.c_str(), O_RDONLY | O_CLOEXEC)) < 0 && errno == EINTR) {
    on_interrupted_call();
  }
  FileDescriptor fd(opened);
  if (fd.get() < 0) return std::unexpected(os_error(errno));

  std::string text;
  struct stat info;
  size_t expected_size = 0;
  if (::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
    expected_size = static_cast<size_t>(info.st_size);
  }
  // One byte beyond the expected size lets the first read reach end of file; the size is only a
  // hint, since the file may change while it is read or be a pipe. A file larger than the memory
  // the process may use throws std::bad_alloc here, like any allocation.
  text.resize(expected_size + 1);
  size_t used = 0;
  for (;;) {
    if (used == text.size()) text.resize(std::max<size_t>(text.size() * 2, 64 * 1024));
    ssize_t n = ::read(fd.get(), text.data() + used, text.size() - used);
    if (n < 0) {
      if (errno == EINTR) {
        on_interrupted_call();
        continue;
      }
      return std::unexpected(os_error(errno));
    }
    if (n == 0) break;
    used += static_cast<size_t>(n);
  }
  text.resize(used);
  if (!is_valid_utf8(text)) return std::unexpected(IoError{kInvalidUtf8});
  return text;
}

std::expected<std::vector<std::string>, IoError> StdAstFileSystem::all_files() const {
  return files_;
}

}  // namespace tolvo::ast
