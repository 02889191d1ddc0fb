#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace scrivane::testing {

// A scratch folder removed with everything in it when the test ends.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }
  // Writes bytes to a file in the folder and returns its path.
  std::string write(std::string_view name, std::string_view bytes) const;

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
// The names in a folder, hidden ones too, sorted.
std::vector<std::string> Names(const std::string& folder);
// The UTF-16 form of a UTF-8 text (which must be valid), after its byte-order mark.
std::string Utf16Of(std::string_view utf8, bool bigEndian);

}  // namespace scrivane::testing
