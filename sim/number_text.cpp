#include "sim/number_text.h"

#include <charconv>

namespace hnx::sim {

std::optional<std::uint64_t> ParseNumber(std::string_view text, std::uint64_t limit) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value > limit)
    return std::nullopt;
  return value;
}

}  // namespace hnx::sim
