#include "resource_reader.h"

#include <cstring>

namespace hnx::e2e {
namespace {

class Cursor {
 public:
  explicit Cursor(const std::string& bytes) : bytes_(bytes) {}
  bool ok() const { return ok_; }
  template <typename T>
  T Read() {
    T value{};
    if (offset_ + sizeof(T) > bytes_.size()) {
      ok_ = false;
      return value;
    }
    std::memcpy(&value, bytes_.data() + offset_, sizeof(T));
    offset_ += sizeof(T);
    return value;
  }
  std::u16string ReadString() {
    std::u16string text;
    for (char16_t unit = Read<char16_t>(); ok_ && unit != 0; unit = Read<char16_t>()) text += unit;
    return text;
  }
  // A name or ordinal field: 0xFFFF and an atom, or a string.
  void ReadNameOrAtom(std::uint16_t& atom, std::u16string& name) {
    const auto first = Read<std::uint16_t>();
    if (first == 0xFFFF) {
      atom = Read<std::uint16_t>();
      return;
    }
    offset_ -= sizeof(std::uint16_t);
    name = ReadString();
  }
  void AlignTo4() { offset_ = (offset_ + 3) & ~std::size_t{3}; }
  void Skip(std::size_t count) { offset_ += count; }

 private:
  const std::string& bytes_;
  std::size_t offset_ = 0;
  bool ok_ = true;
};

TemplateItem ReadItem(Cursor& cursor) {
  cursor.AlignTo4();
  TemplateItem item;
  cursor.Read<std::uint32_t>();  // help id
  item.exStyle = cursor.Read<std::uint32_t>();
  item.style = cursor.Read<std::uint32_t>();
  item.x = cursor.Read<std::int16_t>();
  item.y = cursor.Read<std::int16_t>();
  item.width = cursor.Read<std::int16_t>();
  item.height = cursor.Read<std::int16_t>();
  item.id = cursor.Read<std::int32_t>();
  cursor.ReadNameOrAtom(item.classAtom, item.className);
  cursor.ReadNameOrAtom(item.captionAtom, item.caption);
  cursor.Skip(cursor.Read<std::uint16_t>());  // creation data
  return item;
}

}  // namespace

ProgramResources::ProgramResources(const std::string& program)
    : module_(LoadLibraryExA(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {}

ProgramResources::~ProgramResources() {
  if (module_ != nullptr) FreeLibrary(module_);
}

std::string ProgramResources::Bytes(LPCSTR type, LPCSTR name) const {
  const HRSRC found = FindResourceA(module_, name, type);
  if (found == nullptr) return {};
  const HGLOBAL loaded = LoadResource(module_, found);
  const void* data = loaded == nullptr ? nullptr : LockResource(loaded);
  if (data == nullptr) return {};
  return std::string(static_cast<const char*>(data), SizeofResource(module_, found));
}

bool ParseDialogTemplateEx(const std::string& bytes, DialogTemplateEx& parsed) {
  Cursor cursor(bytes);
  if (cursor.Read<std::uint16_t>() != 1 || cursor.Read<std::uint16_t>() != 0xFFFF) return false;
  cursor.Read<std::uint32_t>();  // help id
  parsed.exStyle = cursor.Read<std::uint32_t>();
  parsed.style = cursor.Read<std::uint32_t>();
  const auto count = cursor.Read<std::uint16_t>();
  parsed.x = cursor.Read<std::int16_t>();
  parsed.y = cursor.Read<std::int16_t>();
  parsed.width = cursor.Read<std::int16_t>();
  parsed.height = cursor.Read<std::int16_t>();
  std::uint16_t unusedAtom = 0;
  cursor.ReadNameOrAtom(unusedAtom, parsed.menu);
  cursor.ReadNameOrAtom(unusedAtom, parsed.className);
  parsed.title = cursor.ReadString();
  parsed.pointSize = cursor.Read<std::uint16_t>();
  parsed.weight = cursor.Read<std::uint16_t>();
  parsed.italic = cursor.Read<std::uint8_t>();
  parsed.charset = cursor.Read<std::uint8_t>();
  parsed.typeface = cursor.ReadString();
  for (std::uint16_t i = 0; i < count; ++i) parsed.items.push_back(ReadItem(cursor));
  return cursor.ok();
}

}  // namespace hnx::e2e
