// What no other process can read from the window: the dialog font's name, which the resource compiler
// stores as UTF-16 only when it reads the script as UTF-8, the window's icon and the manifest.
#include <windows.h>

#include <gtest/gtest.h>

#include "paths.h"
#include "program_session.h"
#include "res/resource.h"

namespace hnx::e2e {
namespace {

TEST(CompiledResources, HoldTheFontNameAsUtf16TheIconAndTheManifestFile) {
  const HMODULE program = LoadLibraryExA(Outputs().program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(program, nullptr);
  const auto bytes = [program](LPCSTR type, int id) {
    const HRSRC found = FindResourceA(program, MAKEINTRESOURCEA(id), type);
    const HGLOBAL loaded = found == nullptr ? nullptr : LoadResource(program, found);
    if (loaded == nullptr) return std::string();
    return std::string(static_cast<const char*>(LockResource(loaded)), SizeofResource(program, found));
  };
  const std::string dialog = bytes(RT_DIALOG, IDD_DOWNLOAD_DIALOG);
  const std::u16string font = u"\u65B0\u7D30\u660E\u9AD4";  // 新細明體
  const std::string fontBytes(reinterpret_cast<const char*>(font.c_str()), (font.size() + 1) * 2);
  EXPECT_NE(dialog.find(fontBytes), std::string::npos) << "the dialog template lacks the font name in UTF-16";
  const bool hasIcon = !bytes(RT_GROUP_ICON, IDI_APP_ICON).empty();
  EXPECT_TRUE(hasIcon) << "the program has no icon";
  const std::string manifest = bytes(RT_MANIFEST, 1);
  EXPECT_EQ(manifest, ReadFileBytes(JoinPath(Outputs().sourceRoot, "res\\app.manifest")));
  FreeLibrary(program);
}

}  // namespace
}  // namespace hnx::e2e
