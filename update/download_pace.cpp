#include "update/download_pace.h"

namespace qz {

StallWatch::StallWatch(std::uint32_t windowMs, std::uint32_t minBytesPerSecond)
    : windowMs_(windowMs == 0 ? kWindowMs : windowMs), minBytesPerSecond_(minBytesPerSecond) {}

void StallWatch::Start(double nowMs) {
  windowStart_ = nowMs;
  bytesAtStart_ = 0;
}

bool StallWatch::Stalled(double nowMs, std::uint64_t bytes) {
  const double elapsed = nowMs - windowStart_;
  if (elapsed < windowMs_) return false;
  // Over the window that passed (it may have run long while a read waited).
  const double needed = static_cast<double>(minBytesPerSecond_) * elapsed / 1000.0;
  if (static_cast<double>(bytes - bytesAtStart_) < needed) return true;
  windowStart_ = nowMs;
  bytesAtStart_ = bytes;
  return false;
}

TryBudget::TryBudget(std::size_t pauses, unsigned maxTries)
    : pauses_(pauses), maxTries_(maxTries == 0 ? 1 : maxTries) {}

TryBudget::Next TryBudget::AfterTry(std::uint64_t held, bool stalled) {
  ++tries_;
  if (tries_ >= maxTries_) return {Next::GiveUp, 0};
  const bool grew = held > most_;
  if (grew) most_ = held;
  if (grew && !stalled) {
    nextPause_ = 0;
    return {Next::AtOnce, 0};
  }
  if (nextPause_ >= pauses_) return {Next::GiveUp, 0};
  return {Next::Pause, nextPause_++};
}

std::string TryBudget::Text(std::uint64_t held) const {
  return "try " + std::to_string(tries_) + " of at most " + std::to_string(maxTries_) + ", the file holds " +
         std::to_string(held) + " bytes (most " + std::to_string(most_) + ")";
}

bool IsSendableValidator(const std::string& validator) {
  if (validator.empty() || validator.size() > 1024) return false;
  const std::size_t open = validator.rfind("W/", 0) == 0 ? 2 : 0;
  if (validator[open] == '"') {
    if (validator.size() < open + 2 || validator.back() != '"') return false;
    for (std::size_t i = open + 1; i + 1 < validator.size(); ++i) {
      const auto c = static_cast<unsigned char>(validator[i]);
      if (c < 0x21 || c == '"' || c == 0x7F) return false;
    }
    return true;
  }
  for (const char c : validator) {
    const bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ' ||
                         c == ':' || c == ',';
    if (!allowed) return false;
  }
  return true;
}

}  // namespace qz
