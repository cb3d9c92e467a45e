#pragma once

#include <optional>
#include <string_view>

namespace tolvo::ast {

// The number of CPUs available to this process: the size of its CPU affinity mask, lowered to its
// cgroups' CPU quota where one is set. At least 1, and 1 when the mask cannot be read.
unsigned available_cpu_count();

// The number of CPUs in this process's affinity mask, or none when it cannot be read.
std::optional<unsigned> affinity_cpu_count();

// The CPU quota of this process's cgroups in whole CPUs, read from /proc/self and /sys; none when
// no quota is set or it cannot be read.
std::optional<unsigned> cgroup_cpu_limit();

// The CPU quota in whole CPUs, floor(quota / period) and at least 1, that the cgroups described by
// `proc_self_cgroup` and `proc_self_mountinfo` (the texts of those /proc/self files) impose: the
// tightest over the process's own cgroup and each ancestor visible in its mount, on the v2
// hierarchy (cpu.max) and the v1 "cpu" controller (cpu.cfs_quota_us, cpu.cfs_period_us). Mount
// points are looked up under the directory `root` ("" for the real file system). None when no
// quota is set; a file that is missing, unreadable or garbled sets no quota for its cgroup.
std::optional<unsigned> cgroup_cpu_limit(std::string_view proc_self_cgroup,
                                         std::string_view proc_self_mountinfo,
                                         std::string_view root);

}  // namespace tolvo::ast
