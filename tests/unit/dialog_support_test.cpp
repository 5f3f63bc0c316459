#include "app/dialog_support.h"

#include <gtest/gtest.h>

namespace hnx {
namespace {

TEST(DialogInitData, ReadsRecordsUpToTheEndMarkOrTheFirstRecordThatRunsPastTheData) {
  const std::vector<std::uint8_t> data = {0xEC, 0x03, 0x03, 0x04, 3, 0, 0, 0, 'Z',
                                          'B',  0,  // control 1004, add string, 3 bytes
                                          0xED, 0x03, 0x03, 0x04, 0, 0, 0, 0,  // an empty record
                                          0x00, 0x00,                          // the end mark
                                          0xEE, 0x03, 0x03, 0x04, 1, 0, 0, 0, 'X'};
  const auto records = ParseDialogInitData(data);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].controlId, 1004);
  EXPECT_EQ(records[0].message, kDialogInitAddString16);
  EXPECT_EQ(records[0].data, (std::vector<std::uint8_t>{'Z', 'B', 0}));
  EXPECT_TRUE(records[1].data.empty());

  EXPECT_EQ(ParseDialogInitData(std::span(data).first(19)).size(), 2u);  // no end mark after the last record
  for (std::size_t cut : {1u, 7u, 10u}) {  // in the header, at its end, inside the data
    const auto truncated = ParseDialogInitData(std::span(data).first(cut));
    EXPECT_TRUE(truncated.empty()) << cut;
  }
}

TEST(FileDialogTexts, AreTheSystemsFormsOfTheFrameworksOnes) {
  EXPECT_EQ(FilterWithNulls("Dump (*.dmp)|*.dmp||"), std::string("Dump (*.dmp)\0*.dmp\0\0\0\0", 22));
  EXPECT_EQ(FilterWithNulls("All|*.*"), std::string("All\0*.*\0\0", 9));
  for (const auto& [text, extension] :
       {std::pair{"*.dmp", "dmp"}, std::pair{".dmp", "dmp"}, std::pair{"dmp", "dmp"}, std::pair{"", ""}})
    EXPECT_EQ(DefaultExtension(text), extension) << text;
}

TEST(ModuleBaseName, IsTheFileNameWithoutFolderAndLastExtension) {
  for (const auto& [path, name] : {std::pair{"C:\\Tools\\ZB4450_download.exe", "ZB4450_download"},
                                   std::pair{"C:/a.b/tool.v2.exe", "tool.v2"}, std::pair{"D:tool", "tool"},
                                   std::pair{"C:\\dir\\.hidden", ".hidden"}, std::pair{"plain", "plain"}})
    EXPECT_EQ(ModuleBaseName(path), name) << path;
}

}  // namespace
}  // namespace hnx
