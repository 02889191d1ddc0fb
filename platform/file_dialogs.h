#pragma once

#include <cstdint>
#include <string>

namespace scrivane::platform {

inline constexpr std::uint32_t OFN_OVERWRITEPROMPT = 0x2;
inline constexpr std::uint32_t OFN_HIDEREADONLY = 0x4;
inline constexpr std::uint32_t OFN_FILEMUSTEXIST = 0x1000;
inline constexpr std::uint32_t OFN_CREATEPROMPT = 0x2000;

// The dialog record handed to the platform's file dialogs: the classic 76-byte
// open-file-name record, with the fields our dialogs use. Texts are UTF-8; the
// filter is NUL-separated description/pattern pairs closed by an empty entry.
struct OpenFileName {
  std::uint32_t lStructSize = 0;
  std::uintptr_t hwndOwner = 0;
  std::uintptr_t hInstance = 0;
  std::string lpstrFilter;
  std::string lpstrCustomFilter;
  std::uint32_t nMaxCustFilter = 0;
  std::uint32_t nFilterIndex = 0;
  std::string lpstrFile;  // in: the proposed name padded with blanks; out: the path, NUL-ended
  std::uint32_t nMaxFile = 0;
  std::string lpstrFileTitle;
  std::uint32_t nMaxFileTitle = 0;
  std::string lpstrInitialDir;
  std::string lpstrTitle;
  std::uint32_t Flags = 0;
  std::uint16_t nFileOffset = 0;
  std::uint16_t nFileExtension = 0;
  std::string lpstrDefExt;
  std::uintptr_t lCustData = 0;
};

// Modal file dialogs. Each returns true when the user chose a file, with the path
// written into lpstrFile; false on cancel or failure.
class FileDialogs {
 public:
  virtual ~FileDialogs() = default;
  virtual bool GetOpenFileNameA(OpenFileName& record) = 0;
  virtual bool GetSaveFileNameA(OpenFileName& record) = 0;
};

}  // namespace scrivane::platform
