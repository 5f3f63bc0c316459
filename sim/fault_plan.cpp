#include "sim/fault_plan.h"

#include <limits>

#include "sim/number_text.h"

namespace hnx::sim {
namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

constexpr std::uint64_t kByte = 0xFF;
constexpr std::uint64_t kWord = std::numeric_limits<std::uint32_t>::max();
constexpr std::uint64_t kTransfer = std::numeric_limits<std::uint64_t>::max();

// "address:value" into `map`.
template <typename Value>
bool AddPair(std::string_view text, std::uint64_t valueLimit, std::map<std::uint32_t, Value>& map) {
  const auto colon = text.find(':');
  if (colon == std::string_view::npos) return false;
  const auto address = ParseNumber(text.substr(0, colon), kWord);
  const auto value = ParseNumber(text.substr(colon + 1), valueLimit);
  if (!address || !value) return false;
  map[static_cast<std::uint32_t>(*address)] = static_cast<Value>(*value);
  return true;
}

template <typename Field>
bool Set(std::string_view text, std::uint64_t lowest, std::uint64_t limit, Field& field) {
  const auto value = ParseNumber(text, limit);
  if (!value || *value < lowest) return false;
  field = static_cast<Field>(*value);
  return true;
}

bool Apply(std::string_view key, std::string_view value, FaultPlan& plan) {
  if (key == "open-fail") {
    if (value == "always") {
      plan.openFailures = -1;
      return true;
    }
    return Set(value, 0, std::numeric_limits<int>::max(), plan.openFailures);
  }
  if (key == "fail-transfer") return Set(value, 1, kTransfer, plan.failTransfer);
  if (key == "short-transfer") return Set(value, 1, kTransfer, plan.shortTransfer);
  if (key == "erase-status") {
    std::uint8_t status = 0;
    if (!Set(value, 0, kByte, status)) return false;
    plan.eraseStatus = status;
    return true;
  }
  if (key == "program-status") return AddPair(value, kByte, plan.programStatus);
  if (key == "refuse-read") return AddPair(value, kWord, plan.readRefusals);
  if (key == "stuck") return AddPair(value, kByte, plan.stuckCells);
  if (key == "delay-us") return Set(value, 0, kWord, plan.delayMicroseconds);
  return false;
}

}  // namespace

std::optional<FaultPlan> FaultPlan::Parse(std::string_view text) {
  FaultPlan plan;
  while (!text.empty()) {
    const auto semicolon = text.find(';');
    const std::string_view entry = Trim(text.substr(0, semicolon));
    text = semicolon == std::string_view::npos ? std::string_view() : text.substr(semicolon + 1);
    if (entry.empty()) continue;
    const auto equals = entry.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    if (!Apply(Trim(entry.substr(0, equals)), Trim(entry.substr(equals + 1)), plan)) return std::nullopt;
  }
  return plan;
}

}  // namespace hnx::sim
