// The image reader against the files that srec_cat (Debian's srecord package) writes from a binary
// image. Unix only: a Windows program cannot start srec_cat.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <random>

#include "ops/image_formats.h"
#include "support/rig.h"

namespace hnx {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(ImageFormatsAgainstSrecCat, DecodeWhatSrecCatWritesFromARandomImage) {
  struct Case {
    std::uint32_t flashSize;
    std::uint32_t imageSize;
    std::uint32_t offset;  // where the image lies in the flash
    const char* output;    // srec_cat's options for the file it writes
    const char* record;    // a record that shows the file takes the path meant (":FF", "S1FF": the longest)
  };
  // clang-format off
  const std::vector<Case> cases = {
      {0x1000,  0x1000,  0,       "-Intel",                                                     ":20002000"},
      {0x1000,  0x1000,  0,       "-Intel -Output_Block_Size=255",                              ":FF000000"},
      {0x1000,  0x1000,  0,       "-Intel -Output_Block_Size=7 -CRLF",                          ":07000700"},
      {0x20000, 0x20000, 0,       "-Intel",                                                     ":020000040001F9"},
      {0x20000, 0x20000, 0,       "-Intel -Address_Length=3",                                   ":020000021000EC"},
      {0x20000, 0x1000,  0x1F000, "-Intel -Execution_Start_Address=0x1F000",                    ":040000050001F000"},
      {0x10000, 0x10000, 0,       "-Motorola -Address_Length=2 -Output_Block_Size=252",         "\nS1FF"},
      {0x20000, 0x20000, 0,       "-Motorola -Address_Length=3",                                "\nS2"},
      {0x20000, 0x1000,  0x1F000, "-Motorola -Address_Length=4 -Execution_Start_Address=0x1F000", "\nS7050001F000"},
  };
  // clang-format on
  const test::TempFolder temp;
  const std::string binary = temp.Path("image.bin");
  const std::string converted = temp.Path("image.txt");
  std::mt19937 random(470);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output);
    Bytes image(c.imageSize);
    for (auto& byte : image) byte = static_cast<std::uint8_t>(random() >> 24);
    std::ofstream(binary, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));

    const std::string command = "srec_cat '" + binary + "' -Binary -offset " + std::to_string(c.offset) +
                                " -o '" + converted + "' " + c.output;
    ASSERT_EQ(std::system(command.c_str()), 0)
        << command << "\n(srec_cat comes with the srecord package, which tools/install-deps installs)";
    const Bytes file = test::FileBytes(converted);
    EXPECT_NE(std::string(file.begin(), file.end()).find(c.record), std::string::npos) << c.record;

    Bytes flash(c.flashSize, 0xFF);
    std::copy(image.begin(), image.end(), flash.begin() + c.offset);
    const auto result = DecodeImage(file, c.flashSize);
    ASSERT_TRUE(std::holds_alternative<DecodedImage>(result))
        << "line " << std::get<ImageError>(result).line << ": " << std::get<ImageError>(result).text;
    const Bytes& decoded = std::get<DecodedImage>(result).bytes;
    ASSERT_EQ(decoded.size(), flash.size());
    const auto differ = std::mismatch(decoded.begin(), decoded.end(), flash.begin()).first;
    EXPECT_EQ(differ, decoded.end()) << "first difference at address " << differ - decoded.begin();
  }
}

}  // namespace
}  // namespace hnx

#endif
