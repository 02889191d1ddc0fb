#pragma once

#include "platform/files.h"

namespace scrivane::platform {

// Files on the local file system, through POSIX calls.
class StdFiles : public Files {
 public:
  std::optional<std::uintmax_t> size(const std::string& path) override;
  void remove(const std::string& path) override;
  void append(const std::string& path, std::string_view bytes) override;
  bool isOrdinaryFile(const std::string& path) override;
  bool sameFile(const std::string& a, const std::string& b) override;
  std::unique_ptr<LineReader> openLines(const std::string& path) override;
};

}  // namespace scrivane::platform
