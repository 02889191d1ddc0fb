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

// The start of a small file of the system's (up to 4 KB); empty when it cannot be read.
std::string ReadSmallFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  std::string text(4096, '\0');
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

// The smallest quota from this process's control group (v2) up to the root.
std::optional<unsigned> QuotaProcessors() {
  const std::string groups = ReadSmallFile("/proc/self/cgroup");
  std::string path;
  for (std::size_t at = 0; at < groups.size();) {
    std::size_t end = groups.find('\n', at);
    if (end == std::string::npos) end = groups.size();
    const std::string_view line(groups.data() + at, end - at);
    if (line.starts_with("0::")) path = line.substr(3);
    at = end + 1;
  }
  if (path.empty() || path.front() != '/' || path.find("/..") != std::string::npos) return std::nullopt;
  std::optional<unsigned> least;
  for (;;) {
    const std::string cpuMax = ReadSmallFile("/sys/fs/cgroup" + (path == "/" ? "" : path) + "/cpu.max");
    if (const auto allowed = ProcessorsOfQuota(cpuMax)) least = std::min(least.value_or(*allowed), *allowed);
    if (path == "/") break;
    const std::size_t slash = path.find_last_of('/');
    path = slash == 0 ? "/" : path.substr(0, slash);
  }
  return least;
}

}  // namespace

std::optional<unsigned> ProcessorsOfQuota(std::string_view cpuMax) {
  while (!cpuMax.empty() && (cpuMax.back() == '\n' || cpuMax.back() == ' ')) cpuMax.remove_suffix(1);
  const std::size_t blank = cpuMax.find(' ');
  if (blank == std::string_view::npos) return std::nullopt;
  const auto quota = Number(cpuMax.substr(0, blank));
  const auto period = Number(cpuMax.substr(blank + 1));
  if (!quota || !period || *period == 0) return std::nullopt;  // "max", or not a quota
  const unsigned long long processors = *quota / *period + (*quota % *period != 0 ? 1 : 0);
  return static_cast<unsigned>(std::clamp<unsigned long long>(processors, 1, 1u << 16));
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
