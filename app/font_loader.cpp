#include "app/font_loader.h"

#include <cstring>
#include <filesystem>
#include <memory>

#include "platform/module.h"

#ifndef SCRIVANE_FONT_MODULE
#error "SCRIVANE_FONT_MODULE: the font module's path relative to the program's folder"
#endif

namespace scrivane {
namespace {

struct Opened {
  std::unique_ptr<FontModule> module;
  std::string error;
};

Opened Open() {
  Opened opened;
  const std::string folder = platform::ProgramFolder();
  if (folder.empty()) {
    opened.error = "the program's own folder is not known";
    return opened;
  }
  const std::string path =
      (std::filesystem::path(folder) / SCRIVANE_FONT_MODULE).lexically_normal().string();
  void* entry = platform::OpenModuleSymbol(path, kFontModuleEntry, opened.error);
  if (entry == nullptr) return opened;
  FontModuleEntry create = nullptr;
  static_assert(sizeof create == sizeof entry);
  std::memcpy(&create, &entry, sizeof create);
  opened.module.reset(create(kFontModuleInterface));
  if (opened.module == nullptr) opened.error = path + " belongs to another version of scrivane";
  return opened;
}

}  // namespace

FontModule* OpenFontModule(std::string& error) {
  static const Opened opened = Open();
  if (opened.module == nullptr) error = opened.error;
  return opened.module.get();
}

}  // namespace scrivane
