#include "ast/src/cpu_count.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tolvo::ast {
namespace {

enum class Hierarchy { kV2, kV1Cpu };

// The whole content of the file at `path`, or none when it cannot be read.
std::optional<std::string> read_file(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string content;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) != 0) {
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return std::nullopt;
    }
    content.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return content;
}

// The fields of `text` separated by `separator`, empty fields included.
std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> fields;
  for (size_t start = 0;;) {
    size_t end = text.find(separator, start);
    if (end == std::string_view::npos) {
      fields.push_back(text.substr(start));
      return fields;
    }
    fields.push_back(text.substr(start, end - start));
    start = end + 1;
  }
}

bool contains_field(std::string_view list, std::string_view name) {
  std::vector<std::string_view> fields = split(list, ',');
  return std::find(fields.begin(), fields.end(), name) != fields.end();
}

template <typename T>
std::optional<T> parse_integer(std::string_view text) {
  T value;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// A cgroup file holds one line; its final line feed is not part of the value.
std::string_view strip_line_feed(std::string_view text) {
  if (text.ends_with('\n')) text.remove_suffix(1);
  return text;
}

// Whole CPUs of a quota per period; a quota below one CPU still leaves one.
std::optional<unsigned> whole_cpus(uint64_t quota, uint64_t period) {
  if (period == 0) return std::nullopt;
  return static_cast<unsigned>(std::clamp<uint64_t>(quota / period, 1, UINT32_MAX));
}

// cgroup v2: "max PERIOD" (no quota) or "QUOTA PERIOD".
std::optional<unsigned> v2_limit(const std::string& dir) {
  std::optional<std::string> text = read_file(dir + "/cpu.max");
  if (!text) return std::nullopt;
  std::vector<std::string_view> fields = split(strip_line_feed(*text), ' ');
  if (fields.size() != 2 || fields[0] == "max") return std::nullopt;
  std::optional<uint64_t> quota = parse_integer<uint64_t>(fields[0]);
  std::optional<uint64_t> period = parse_integer<uint64_t>(fields[1]);
  if (!quota || !period) return std::nullopt;
  return whole_cpus(*quota, *period);
}

// cgroup v1: a quota of -1 means none.
std::optional<unsigned> v1_limit(const std::string& dir) {
  std::optional<std::string> quota_text = read_file(dir + "/cpu.cfs_quota_us");
  if (!quota_text) return std::nullopt;
  std::optional<int64_t> quota = parse_integer<int64_t>(strip_line_feed(*quota_text));
  if (!quota || *quota < 0) return std::nullopt;
  std::optional<std::string> period_text = read_file(dir + "/cpu.cfs_period_us");
  if (!period_text) return std::nullopt;
  std::optional<uint64_t> period = parse_integer<uint64_t>(strip_line_feed(*period_text));
  if (!period) return std::nullopt;
  return whole_cpus(static_cast<uint64_t>(*quota), *period);
}

// The cgroup path of the process in `hierarchy`, from /proc/self/cgroup lines
// "ID:CONTROLLERS:PATH" (v2: "0::PATH").
std::optional<std::string_view> cgroup_path(std::string_view proc_self_cgroup,
                                            Hierarchy hierarchy) {
  for (std::string_view line : split(proc_self_cgroup, '\n')) {
    size_t first = line.find(':');
    if (first == std::string_view::npos) continue;
    size_t second = line.find(':', first + 1);
    if (second == std::string_view::npos) continue;
    std::string_view id = line.substr(0, first);
    std::string_view controllers = line.substr(first + 1, second - first - 1);
    std::string_view path = line.substr(second + 1);
    bool wanted = hierarchy == Hierarchy::kV2 ? id == "0" && controllers.empty()
                                              : contains_field(controllers, "cpu");
    if (wanted) return path;
  }
  return std::nullopt;
}

bool is_octal(char c) { return c >= '0' && c <= '7'; }

// A mountinfo path field with its octal escapes ("\040" for a space) resolved.
std::string unescape_mount_field(std::string_view field) {
  std::string text;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && is_octal(field[i + 1]) &&
        is_octal(field[i + 2]) && is_octal(field[i + 3])) {
      text += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                (field[i + 3] - '0'));
      i += 3;
    } else {
      text += field[i];
    }
  }
  return text;
}

// The part of `path` below `root`, both absolute cgroup paths, compared by components: "" for the
// root itself, none when `path` lies outside it.
std::optional<std::string_view> path_below(std::string_view path, std::string_view root) {
  while (root.size() > 1 && root.ends_with('/')) root.remove_suffix(1);
  if (root == "/") return path;
  if (!path.starts_with(root)) return std::nullopt;
  std::string_view rest = path.substr(root.size());
  if (!rest.empty() && rest.front() != '/') return std::nullopt;
  return rest;
}

// The directory of the process's cgroup in `hierarchy` and the directory of its mount's root,
// the highest ancestor that can be read, both under `root`.
struct CgroupDirs {
  std::string own;
  std::string top;
};

std::optional<CgroupDirs> cgroup_dirs(std::string_view proc_self_cgroup,
                                      std::string_view proc_self_mountinfo, std::string_view root,
                                      Hierarchy hierarchy) {
  std::optional<std::string_view> path = cgroup_path(proc_self_cgroup, hierarchy);
  if (!path || !path->starts_with('/')) return std::nullopt;
  // A cgroup outside the process's cgroup namespace shows as "/.."; its files are out of sight.
  for (std::string_view component : split(*path, '/')) {
    if (component == "..") return std::nullopt;
  }
  for (std::string_view line : split(proc_self_mountinfo, '\n')) {
    // ID PARENT MAJOR:MINOR ROOT MOUNT_POINT OPTIONS [OPTIONAL...] - FSTYPE SOURCE SUPER_OPTIONS
    std::vector<std::string_view> fields = split(line, ' ');
    auto dash = std::find(fields.begin(), fields.end(), "-");
    if (fields.size() < 6 || dash - fields.begin() < 6 || fields.end() - dash < 4) continue;
    std::string_view fstype = dash[1];
    std::string_view super_options = dash[3];
    bool wanted = hierarchy == Hierarchy::kV2
                      ? fstype == "cgroup2"
                      : fstype == "cgroup" && contains_field(super_options, "cpu");
    if (!wanted) continue;
    // The mount shows the hierarchy from its root down; in a container that root is often the
    // container's own cgroup, mounted at the usual place.
    std::string mount_root = unescape_mount_field(fields[3]);
    std::optional<std::string_view> below = path_below(*path, mount_root);
    if (!below) continue;
    std::string top = std::string(root) + unescape_mount_field(fields[4]);
    // Without its final "/", so that "" stands for a mount at "/".
    while (top.ends_with('/')) top.pop_back();
    std::string own = top;
    for (std::string_view component : split(*below, '/')) {
      if (!component.empty()) (own += '/') += component;
    }
    return CgroupDirs{std::move(own), std::move(top)};
  }
  return std::nullopt;
}

// The tightest quota of `hierarchy` from the process's cgroup up to its mount's root.
std::optional<unsigned> hierarchy_limit(std::string_view proc_self_cgroup,
                                        std::string_view proc_self_mountinfo, std::string_view root,
                                        Hierarchy hierarchy) {
  std::optional<CgroupDirs> dirs =
      cgroup_dirs(proc_self_cgroup, proc_self_mountinfo, root, hierarchy);
  if (!dirs) return std::nullopt;
  std::optional<unsigned> tightest;
  std::string dir = dirs->own;
  for (;;) {
    std::optional<unsigned> limit = hierarchy == Hierarchy::kV2 ? v2_limit(dir) : v1_limit(dir);
    if (limit && (!tightest || *limit < *tightest)) tightest = limit;
    if (dir.size() <= dirs->top.size()) break;
    dir.resize(dir.rfind('/'));
  }
  return tightest;
}

struct CpuSetFree {
  void operator()(cpu_set_t* set) const { CPU_FREE(set); }
};

}  // namespace

std::optional<unsigned> cgroup_cpu_limit(std::string_view proc_self_cgroup,
                                         std::string_view proc_self_mountinfo,
                                         std::string_view root) {
  // A hybrid layout has both: the quota is whichever is set, or the tighter.
  std::optional<unsigned> v2 =
      hierarchy_limit(proc_self_cgroup, proc_self_mountinfo, root, Hierarchy::kV2);
  std::optional<unsigned> v1 =
      hierarchy_limit(proc_self_cgroup, proc_self_mountinfo, root, Hierarchy::kV1Cpu);
  if (v2 && v1) return std::min(*v2, *v1);
  return v2 ? v2 : v1;
}

std::optional<unsigned> cgroup_cpu_limit() {
  std::optional<std::string> cgroup = read_file("/proc/self/cgroup");
  std::optional<std::string> mountinfo = read_file("/proc/self/mountinfo");
  if (!cgroup || !mountinfo) return std::nullopt;
  return cgroup_cpu_limit(*cgroup, *mountinfo, "");
}

std::optional<unsigned> affinity_cpu_count() {
  // The kernel refuses a mask smaller than its own CPU limit, so grow until one fits.
  for (int cpus = 1024; cpus <= (1 << 22); cpus *= 2) {
    std::unique_ptr<cpu_set_t, CpuSetFree> set(CPU_ALLOC(cpus));
    if (set == nullptr) return std::nullopt;
    size_t size = CPU_ALLOC_SIZE(cpus);
    if (::sched_getaffinity(0, size, set.get()) == 0) {
      return static_cast<unsigned>(CPU_COUNT_S(size, set.get()));
    }
    if (errno != EINVAL) return std::nullopt;
  }
  return std::nullopt;
}

unsigned available_cpu_count() {
  std::optional<unsigned> affinity = affinity_cpu_count();
  if (!affinity) return 1;
  unsigned count = *affinity;
  if (std::optional<unsigned> limit = cgroup_cpu_limit()) count = std::min(count, *limit);
  return std::max(count, 1u);
}

}  // namespace tolvo::ast
