// The resources compiled into the program, read from its file without running it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace hnx::e2e {

class ProgramResources {
 public:
  explicit ProgramResources(const std::string& program);
  ~ProgramResources();
  ProgramResources(const ProgramResources&) = delete;
  ProgramResources& operator=(const ProgramResources&) = delete;

  bool loaded() const { return module_ != nullptr; }
  // The bytes of a resource; empty when there is none.
  std::string Bytes(LPCSTR type, LPCSTR name) const;

 private:
  HMODULE module_;
};

// A dialog item as the template holds it. The class is an atom (0x80 button ... 0x85 combo box) or,
// with atom 0, a name; the same for the caption, whose atom is a resource id.
struct TemplateItem {
  std::uint32_t style = 0;
  std::uint32_t exStyle = 0;
  std::int16_t x = 0, y = 0, width = 0, height = 0;
  std::int32_t id = 0;
  std::uint16_t classAtom = 0;
  std::u16string className;
  std::uint16_t captionAtom = 0;
  std::u16string caption;
  bool operator==(const TemplateItem&) const = default;
};

struct DialogTemplateEx {
  std::uint32_t style = 0;
  std::uint32_t exStyle = 0;
  std::int16_t x = 0, y = 0, width = 0, height = 0;
  std::u16string menu;
  std::u16string className;
  std::u16string title;
  std::uint16_t pointSize = 0;
  std::uint16_t weight = 0;
  std::uint8_t italic = 0;
  std::uint8_t charset = 0;
  std::u16string typeface;
  std::vector<TemplateItem> items;
};

// False when `bytes` is not an extended dialog template.
bool ParseDialogTemplateEx(const std::string& bytes, DialogTemplateEx& parsed);

}  // namespace hnx::e2e
