#include "platform/processors.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <string>
#include <thread>

namespace scrivane::platform {
namespace {

// The start of a small file of the system's (up to `most` bytes); empty when
// it cannot be read.
std::string ReadSmallFile(const std::string& path, std::size_t most = 4096) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  std::string text(most, '\0');
  std::size_t have = 0;
  while (have < text.size()) {
    const ssize_t n = ::read(fd, text.data() + have, text.size() - have);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    have += static_cast<std::size_t>(n);
  }
  ::close(fd);
  text.resize(have);
  return text;
}

std::optional<unsigned long long> Number(std::string_view text) {
  unsigned long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// The processors `quota` microseconds in every `period` allow, rounded up and
// at least 1.
unsigned ProcessorsOf(unsigned long long quota, unsigned long long period) {
  const unsigned long long processors = quota / period + (quota % period != 0 ? 1 : 0);
  return static_cast<unsigned>(std::clamp<unsigned long long>(processors, 1, 1u << 16));
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.remove_suffix(1);
  return text;
}

// The smallest quota that `quotaOf` finds in the group at `path` under `root`
// or in any group above it, up to the root itself. Inside a container the
// group's path may be one of the host's, which the container's mount does not
// have: its own group is then the root of the mount.
template <typename QuotaOf>
std::optional<unsigned> LeastQuota(const std::string& root, std::string path, QuotaOf quotaOf) {
  if (path.empty() || path.front() != '/' || path.find("/..") != std::string::npos) return std::nullopt;
  std::optional<unsigned> least;
  for (;;) {
    if (const auto allowed = quotaOf(root + (path == "/" ? "" : path))) {
      least = std::min(least.value_or(*allowed), *allowed);
    }
    if (path == "/") break;
    const std::size_t slash = path.find_last_of('/');
    path = slash == 0 ? "/" : path.substr(0, slash);
  }
  return least;
}

// The smallest quota from this process's control group up to the root: in
// cgroup v2 (cpu.max), and in a v1 cpu controller (cpu.cfs_quota_us and
// cpu.cfs_period_us) where the system still mounts one.
std::optional<unsigned> QuotaProcessors() {
  // A line for each hierarchy, whose paths may be long in a container.
  const std::string groups = ReadSmallFile("/proc/self/cgroup", 64 << 10);
  std::optional<std::string> unified, cpu;
  for (std::size_t at = 0; at < groups.size();) {
    std::size_t end = groups.find('\n', at);
    if (end == std::string::npos) end = groups.size();
    // "ID:CONTROLLERS:PATH", the controllers empty for the unified hierarchy.
    const std::string_view line(groups.data() + at, end - at);
    at = end + 1;
    const std::size_t first = line.find(':');
    const std::size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
    if (second == std::string_view::npos) continue;
    const std::string_view controllers = line.substr(first + 1, second - first - 1);
    const std::string path(line.substr(second + 1));
    if (controllers.empty() && line.substr(0, first) == "0") unified = path;
    for (std::size_t c = 0; c <= controllers.size() && !controllers.empty();) {
      std::size_t comma = controllers.find(',', c);
      if (comma == std::string_view::npos) comma = controllers.size();
      if (controllers.substr(c, comma - c) == "cpu") cpu = path;
      c = comma + 1;
    }
  }
  std::optional<unsigned> least;
  auto lower = [&](std::optional<unsigned> allowed) {
    if (allowed) least = std::min(least.value_or(*allowed), *allowed);
  };
  if (unified) {
    lower(LeastQuota("/sys/fs/cgroup", *unified, [](const std::string& group) {
      return ProcessorsOfQuota(ReadSmallFile(group + "/cpu.max"));
    }));
  }
  if (cpu) {
    auto v1 = [](const std::string& group) {
      return ProcessorsOfV1Quota(ReadSmallFile(group + "/cpu.cfs_quota_us"),
                                 ReadSmallFile(group + "/cpu.cfs_period_us"));
    };
    for (const char* root : {"/sys/fs/cgroup/cpu", "/sys/fs/cgroup/cpu,cpuacct"}) {
      if (::access(root, F_OK) == 0) {
        lower(LeastQuota(root, *cpu, v1));
        break;
      }
    }
  }
  return least;
}

}  // namespace

std::optional<unsigned> ProcessorsOfQuota(std::string_view cpuMax) {
  cpuMax = Trimmed(cpuMax);
  const std::size_t blank = cpuMax.find(' ');
  if (blank == std::string_view::npos) return std::nullopt;
  const auto quota = Number(cpuMax.substr(0, blank));
  const auto period = Number(cpuMax.substr(blank + 1));
  if (!quota || !period || *period == 0) return std::nullopt;  // "max", or not a quota
  return ProcessorsOf(*quota, *period);
}

std::optional<unsigned> ProcessorsOfV1Quota(std::string_view quota, std::string_view period) {
  const auto q = Number(Trimmed(quota));
  const auto p = Number(Trimmed(period));
  if (!q || !p || *p == 0) return std::nullopt;  // -1, or not a quota
  return ProcessorsOf(*q, *p);
}

unsigned UsableProcessors() {
  unsigned processors = std::max(std::thread::hardware_concurrency(), 1u);
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  if (::sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
    processors = std::min(processors, static_cast<unsigned>(std::max(CPU_COUNT(&allowed), 1)));
  }
  if (const auto quota = QuotaProcessors()) processors = std::min(processors, *quota);
  return processors;
}

}  // namespace scrivane::platform
