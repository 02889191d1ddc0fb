#pragma once

#include "platform/files.h"

namespace scrivane::platform {

// Files on the local file system, through POSIX calls. A new file is written
// under a hidden temporary name beside the output; SIGINT, SIGTERM, SIGHUP and
// SIGPIPE remove such files before they end the program (unless the program was
// started with the signal ignored, which it then stays).
class StdFiles : public Files {
 public:
  std::optional<std::uintmax_t> size(const std::string& path) override;
  bool isOrdinaryFile(const std::string& path) override;
  std::string whyNoText(const std::string& path) override;
  bool isTaken(const std::string& path) override;
  bool isTerminal(const std::string& path) override;
  bool sameFile(const std::string& a, const std::string& b) override;
  std::string identity(const std::string& path) override;
  std::unique_ptr<LineReader> openLines(const std::string& path) override;
  std::unique_ptr<Output> createOutput(const std::string& path, const std::string& input) override;
};

// The descriptor that a name leads to through /dev/stdin, /dev/stdout,
// /dev/stderr, /dev/fd/N or /proc/self/fd/N (also through links, and with the
// process's own number for self), or -1 for any other name.
int NamedDescriptor(const std::string& path);

}  // namespace scrivane::platform
