// The input is an image file, decoded for flashes of several sizes. Under ASan and UBSan no input may
// read outside its bounds; besides, a decoded flash has exactly the flash size, a raw binary is the
// start of the file, a refusal of a text file names a line of the file or the one after it, decoding
// twice gives the same outcome, and no decoding asks for more memory than the flash and a little more.
#include <sanitizer/allocator_interface.h>

#include <algorithm>
#include <cstdlib>
#include <span>

#include "ops/image_formats.h"

namespace {

using Outcome = std::variant<hnx::DecodedImage, hnx::ImageError>;

// Below 64 KiB, and above it so that a segment or linear base of 0x10000 lands in the flash.
constexpr std::uint32_t kFlashSizes[] = {0, 0x100, 0x10100};

bool counting = false;
std::size_t requested = 0;

void CountAllocation(const volatile void*, std::size_t size) {
  if (counting) requested += size;
}
void IgnoreFree(const volatile void*) {}

Outcome CountedDecode(std::span<const std::uint8_t> content, std::uint32_t flashSize) {
  requested = 0;
  counting = true;
  Outcome outcome = hnx::DecodeImage(content, flashSize);
  counting = false;
  // The flash, a bit for each of its bytes, and the words of a refusal.
  if (requested > flashSize + flashSize / 8 + 1024) std::abort();
  return outcome;
}

bool Same(const Outcome& a, const Outcome& b) {
  if (a.index() != b.index()) return false;
  if (const auto* image = std::get_if<hnx::DecodedImage>(&a))
    return image->format == std::get<hnx::DecodedImage>(b).format &&
           image->bytes == std::get<hnx::DecodedImage>(b).bytes;
  return std::get<hnx::ImageError>(a).line == std::get<hnx::ImageError>(b).line &&
         std::get<hnx::ImageError>(a).text == std::get<hnx::ImageError>(b).text;
}

void Check(std::span<const std::uint8_t> content, std::uint32_t flashSize) {
  const Outcome outcome = CountedDecode(content, flashSize);
  if (!Same(outcome, CountedDecode(content, flashSize))) std::abort();

  const bool binaryFits = content.size() >= flashSize;
  if (const auto* image = std::get_if<hnx::DecodedImage>(&outcome)) {
    if (image->bytes.size() != flashSize) std::abort();
    if (image->format == hnx::ImageFormat::Binary &&
        (!binaryFits || !std::equal(image->bytes.begin(), image->bytes.end(), content.begin())))
      std::abort();
    return;
  }
  const hnx::ImageError& error = std::get<hnx::ImageError>(outcome);
  if (error.text.empty()) std::abort();
  const std::size_t lines = static_cast<std::size_t>(std::count(content.begin(), content.end(), '\n')) +
                            (!content.empty() && content.back() != '\n');
  if (error.line == 0 ? binaryFits : error.line > lines + 1) std::abort();
}

}  // namespace

// Undefined behaviour ends the run like a crash, so the fuzzer keeps the input.
extern "C" const char* __ubsan_default_options() {
  return "halt_on_error=1:print_stacktrace=1";
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  __sanitizer_install_malloc_and_free_hooks(CountAllocation, IgnoreFree);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  for (const std::uint32_t flashSize : kFlashSizes) Check({data, size}, flashSize);
  return 0;
}
