#pragma once

#include <optional>
#include <string_view>

namespace scrivane::platform {

// How many processors this process can keep busy at once: those its CPU
// affinity allows (taskset, cpusets), fewer where the CPU quota of its control
// group, or of a group above it, allows less time than that (a container
// started with --cpus=2 on a larger machine); at least 1.
unsigned UsableProcessors();

// The processors that a cgroup v2 cpu.max file allows ("QUOTA PERIOD" in
// microseconds, QUOTA "max" for no limit), rounded up and at least 1; nullopt
// when it sets no limit or cannot be read as one.
std::optional<unsigned> ProcessorsOfQuota(std::string_view cpuMax);
// Likewise for a cgroup v1 cpu controller's cpu.cfs_quota_us and
// cpu.cfs_period_us (microseconds, a quota of -1 for no limit).
std::optional<unsigned> ProcessorsOfV1Quota(std::string_view quota, std::string_view period);

}  // namespace scrivane::platform
