#include "ast/src/cpu_count.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tolvo::ast {
namespace {

// mountinfo lines as the kernel writes them, with optional fields before the "-".
std::string v2_mount(const std::string& root, const std::string& mount_point) {
  return "30 23 0:26 " + root + " " + mount_point +
         " rw,nosuid,nodev,noexec,relatime shared:4 - cgroup2 cgroup2 rw,nsdelegate\n";
}
std::string v1_mount(const std::string& root, const std::string& mount_point,
                     const std::string& controllers) {
  return "33 25 0:29 " + root + " " + mount_point +
         " rw,nosuid,nodev,noexec,relatime shared:9 - cgroup cgroup rw," + controllers + "\n";
}
const std::string kOtherMounts =
    "22 28 0:21 / /proc rw,relatime - proc proc rw\n"
    "25 23 0:24 / /sys/fs/cgroup rw,relatime - tmpfs tmpfs rw,mode=755\n";

struct Case {
  const char* name;
  std::string proc_self_cgroup;
  std::string proc_self_mountinfo;
  std::vector<std::pair<std::string, std::string>> files;  // path under the root, content
  std::optional<unsigned> expected;
};

// Each case lays out its own cgroup tree in a scratch directory that stands for "/".
class CgroupCpuLimitTest : public testing::Test {
 protected:
  void SetUp() override {
    scratch_ = std::filesystem::temp_directory_path() /
               ("tolvo_cpu_count_test_" + std::to_string(::getpid()));
  }
  void TearDown() override { std::filesystem::remove_all(scratch_); }

  void check(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
      std::filesystem::path root = scratch_ / c.name;
      std::filesystem::create_directories(root);
      for (const auto& [path, content] : c.files) {
        std::filesystem::path file = root / path;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file) << content;
      }
      EXPECT_EQ(cgroup_cpu_limit(c.proc_self_cgroup, c.proc_self_mountinfo, root.string()),
                c.expected)
          << c.name;
    }
  }

  std::filesystem::path scratch_;
};

TEST_F(CgroupCpuLimitTest, Version2) {
  std::string mounts = kOtherMounts + v2_mount("/", "/sys/fs/cgroup");
  check({
      {"quota", "0::/app\n", mounts, {{"sys/fs/cgroup/app/cpu.max", "400000 100000\n"}}, 4},
      {"rounds_down", "0::/app\n", mounts, {{"sys/fs/cgroup/app/cpu.max", "150000 100000\n"}}, 1},
      {"below_one_cpu", "0::/app\n", mounts, {{"sys/fs/cgroup/app/cpu.max", "5000 100000\n"}}, 1},
      {"max_is_none", "0::/app\n", mounts, {{"sys/fs/cgroup/app/cpu.max", "max 100000\n"}}, {}},
      {"tighter_ancestor",
       "0::/a/b/c\n",
       mounts,
       {{"sys/fs/cgroup/a/b/c/cpu.max", "max 100000\n"},
        {"sys/fs/cgroup/a/b/cpu.max", "800000 100000\n"},
        {"sys/fs/cgroup/a/cpu.max", "200000 100000\n"}},
       2},
      {"own_tighter_than_ancestor",
       "0::/a/b\n",
       mounts,
       {{"sys/fs/cgroup/a/b/cpu.max", "300000 100000\n"},
        {"sys/fs/cgroup/a/cpu.max", "800000 100000\n"}},
       3},
      {"quota_at_the_mount_itself",
       "0::/a\n",
       mounts,
       {{"sys/fs/cgroup/cpu.max", "200000 100000\n"}},
       2},
      // The root cgroup has no cpu.max at all.
      {"root_cgroup", "0::/\n", mounts, {{"sys/fs/cgroup/cgroup.procs", "1\n"}}, {}},
  });
}

TEST_F(CgroupCpuLimitTest, Version1) {
  std::string mounts = kOtherMounts + v1_mount("/", "/sys/fs/cgroup/cpuset", "cpuset") +
                       v1_mount("/", "/sys/fs/cgroup/cpu,cpuacct", "cpu,cpuacct");
  std::string cgroup = "12:cpuset:/job\n4:cpu,cpuacct:/job\n1:name=systemd:/job\n";
  check({
      {"quota",
       cgroup,
       mounts,
       {{"sys/fs/cgroup/cpu,cpuacct/job/cpu.cfs_quota_us", "250000\n"},
        {"sys/fs/cgroup/cpu,cpuacct/job/cpu.cfs_period_us", "100000\n"}},
       2},
      {"minus_one_is_none",
       cgroup,
       mounts,
       {{"sys/fs/cgroup/cpu,cpuacct/job/cpu.cfs_quota_us", "-1\n"},
        {"sys/fs/cgroup/cpu,cpuacct/job/cpu.cfs_period_us", "100000\n"}},
       {}},
      {"tighter_ancestor",
       "4:cpu,cpuacct:/a/b\n",
       mounts,
       {{"sys/fs/cgroup/cpu,cpuacct/a/b/cpu.cfs_quota_us", "-1\n"},
        {"sys/fs/cgroup/cpu,cpuacct/a/b/cpu.cfs_period_us", "100000\n"},
        {"sys/fs/cgroup/cpu,cpuacct/a/cpu.cfs_quota_us", "50000\n"},
        {"sys/fs/cgroup/cpu,cpuacct/a/cpu.cfs_period_us", "25000\n"},
        {"sys/fs/cgroup/cpu,cpuacct/cpu.cfs_quota_us", "-1\n"},
        {"sys/fs/cgroup/cpu,cpuacct/cpu.cfs_period_us", "100000\n"}},
       2},
      // "cpuset" and "cpuacct" are other controllers, not "cpu".
      {"only_the_cpu_controller",
       "12:cpuset:/job\n3:cpuacct:/job\n",
       kOtherMounts + v1_mount("/", "/sys/fs/cgroup/cpuset", "cpuset") +
           v1_mount("/", "/sys/fs/cgroup/cpuacct", "cpuacct"),
       {{"sys/fs/cgroup/cpuset/job/cpu.cfs_quota_us", "100000\n"},
        {"sys/fs/cgroup/cpuset/job/cpu.cfs_period_us", "100000\n"},
        {"sys/fs/cgroup/cpuacct/job/cpu.cfs_quota_us", "100000\n"},
        {"sys/fs/cgroup/cpuacct/job/cpu.cfs_period_us", "100000\n"}},
       {}},
  });
}

// In a container the mount's root is often the container's own cgroup: the files of "/docker/x"
// are then at the mount point itself, and a path built from the whole cgroup path reads a decoy.
TEST_F(CgroupCpuLimitTest, CgroupPathIsTakenRelativeToTheMountRoot) {
  check({
      {"v2_container",
       "0::/docker/x\n",
       kOtherMounts + v2_mount("/docker/x", "/sys/fs/cgroup"),
       {{"sys/fs/cgroup/cpu.max", "300000 100000\n"},
        {"sys/fs/cgroup/docker/x/cpu.max", "100000 100000\n"}},
       3},
      {"v2_below_the_mount_root",
       "0::/docker/x/worker\n",
       kOtherMounts + v2_mount("/docker/x", "/sys/fs/cgroup"),
       {{"sys/fs/cgroup/worker/cpu.max", "max 100000\n"},
        {"sys/fs/cgroup/cpu.max", "300000 100000\n"}},
       3},
      {"v1_container",
       "5:cpu:/docker/x\n",
       kOtherMounts + v1_mount("/docker/x", "/sys/fs/cgroup/cpu", "cpu"),
       {{"sys/fs/cgroup/cpu/cpu.cfs_quota_us", "200000\n"},
        {"sys/fs/cgroup/cpu/cpu.cfs_period_us", "100000\n"}},
       2},
      // "/docker/xy" is not below "/docker/x".
      {"outside_the_mount_root",
       "0::/docker/xy\n",
       kOtherMounts + v2_mount("/docker/x", "/sys/fs/cgroup"),
       {{"sys/fs/cgroup/cpu.max", "100000 100000\n"},
        {"sys/fs/cgroup/y/cpu.max", "100000 100000\n"}},
       {}},
      // A later mount of the hierarchy that does show the cgroup is used.
      {"second_mount_shows_it",
       "0::/b/job\n",
       kOtherMounts + v2_mount("/a", "/mnt/a") + v2_mount("/b", "/mnt/b"),
       {{"mnt/a/job/cpu.max", "100000 100000\n"}, {"mnt/b/job/cpu.max", "200000 100000\n"}},
       2},
      // A cgroup outside the process's namespace is shown with "..".
      {"outside_the_namespace",
       "0::/../other\n",
       kOtherMounts + v2_mount("/", "/sys/fs/cgroup"),
       {{"sys/fs/cgroup/cpu.max", "100000 100000\n"}, {"sys/fs/other/cpu.max", "100000 100000\n"}},
       {}},
      {"escaped_mount_point",
       "0::/app\n",
       kOtherMounts + v2_mount("/", "/mnt/cgroup\\040two"),
       {{"mnt/cgroup two/app/cpu.max", "200000 100000\n"}},
       2},
  });
}

// A hybrid layout mounts both: the v1 "cpu" controller and a v2 hierarchy without it.
TEST_F(CgroupCpuLimitTest, HybridTakesTheTighterOfBoth) {
  std::string mounts = kOtherMounts + v1_mount("/", "/sys/fs/cgroup/cpu", "cpu") +
                       v2_mount("/", "/sys/fs/cgroup/unified");
  std::string cgroup = "1:cpu:/job\n0::/job\n";
  check({
      {"v1_only",
       cgroup,
       mounts,
       {{"sys/fs/cgroup/cpu/job/cpu.cfs_quota_us", "300000\n"},
        {"sys/fs/cgroup/cpu/job/cpu.cfs_period_us", "100000\n"},
        {"sys/fs/cgroup/unified/job/cgroup.procs", "1\n"}},
       3},
      {"both",
       cgroup,
       mounts,
       {{"sys/fs/cgroup/cpu/job/cpu.cfs_quota_us", "300000\n"},
        {"sys/fs/cgroup/cpu/job/cpu.cfs_period_us", "100000\n"},
        {"sys/fs/cgroup/unified/job/cpu.max", "200000 100000\n"}},
       2},
  });
}

TEST_F(CgroupCpuLimitTest, MissingOrGarbageReadsAsNoLimit) {
  std::string mounts =
      kOtherMounts + v2_mount("/", "/sys/fs/cgroup") + v1_mount("/", "/sys/fs/cgroup/cpu", "cpu");
  auto v2_file = [&](const char* name, const char* content) {
    return Case{name, "0::/app\n", mounts, {{"sys/fs/cgroup/app/cpu.max", content}}, {}};
  };
  auto v1_files = [&](const char* name, const char* quota, const char* period) {
    return Case{name,
                "1:cpu:/app\n",
                mounts,
                {{"sys/fs/cgroup/cpu/app/cpu.cfs_quota_us", quota},
                 {"sys/fs/cgroup/cpu/app/cpu.cfs_period_us", period}},
                {}};
  };
  check({
      {"no_files", "0::/app\n1:cpu:/app\n", mounts, {}, {}},
      {"empty_proc_texts", "", "", {{"sys/fs/cgroup/app/cpu.max", "100000 100000\n"}}, {}},
      {"no_cgroup_mount",
       "0::/app\n",
       kOtherMounts,
       {{"sys/fs/cgroup/app/cpu.max", "100000 100000\n"}},
       {}},
      {"garbage_proc_texts", "banana\n::\n0:x\n", "1 2 3\n - cgroup2\n- - - -\n", {}, {}},
      v2_file("v2_empty", ""),
      v2_file("v2_one_field", "100000\n"),
      v2_file("v2_words", "lots 100000\n"),
      v2_file("v2_negative", "-100000 100000\n"),
      v2_file("v2_zero_period", "100000 0\n"),
      v2_file("v2_three_fields", "100000 100000 1\n"),
      v2_file("v2_trailing_junk", "100000 100000x\n"),
      v2_file("v2_two_spaces", "100000  100000\n"),
      v1_files("v1_word_quota", "none\n", "100000\n"),
      v1_files("v1_empty_period", "100000\n", ""),
      v1_files("v1_zero_period", "100000\n", "0\n"),
      v1_files("v1_negative_period", "100000\n", "-100000\n"),
      Case{"v1_period_missing",
           "1:cpu:/app\n",
           mounts,
           {{"sys/fs/cgroup/cpu/app/cpu.cfs_quota_us", "100000\n"}},
           {}},
      // Garbage at one level leaves the quota of another.
      Case{"garbage_below_a_quota",
           "0::/a/b\n",
           mounts,
           {{"sys/fs/cgroup/a/b/cpu.max", "banana\n"},
            {"sys/fs/cgroup/a/cpu.max", "200000 100000\n"}},
           2},
  });
}

TEST(AvailableCpuCountTest, IsTheAffinityLoweredToTheQuota) {
  std::optional<unsigned> affinity = affinity_cpu_count();
  std::optional<unsigned> limit = cgroup_cpu_limit();
  unsigned available = available_cpu_count();
  std::cout << "this machine: affinity mask " << (affinity ? std::to_string(*affinity) : "unread")
            << ", cgroup quota " << (limit ? std::to_string(*limit) : "none") << ", available CPUs "
            << available << "\n";
  ASSERT_TRUE(affinity.has_value());
  EXPECT_GE(*affinity, 1u);
  EXPECT_EQ(available, limit ? std::min(*affinity, *limit) : *affinity);
}

}  // namespace
}  // namespace tolvo::ast
