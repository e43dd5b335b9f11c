#include "update/download_pace.h"

#include <algorithm>

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
    const bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                         c == ' ' || c == ':' || c == ',';
    if (!allowed) return false;
  }
  return true;
}

RatePacer::RatePacer(std::uint64_t bytesPerSecond) : rate_(static_cast<double>(bytesPerSecond) / 1000.0) {}

double RatePacer::AfterRead(double nowMs, std::uint64_t bytes) {
  if (rate_ <= 0) return 0;
  const double bucket = rate_ * 250;  // a quarter second's bytes
  if (last_ < 0) {
    last_ = nowMs;
    tokens_ = bucket;
  }
  tokens_ = std::min(bucket, tokens_ + (nowMs - last_) * rate_);
  last_ = nowMs;
  tokens_ -= static_cast<double>(bytes);
  if (tokens_ >= 0) return 0;
  // The wait refills exactly what was overdrawn.
  const double wait = -tokens_ / rate_;
  tokens_ = 0;
  last_ = nowMs + wait;
  return wait;
}

std::uint32_t RatePacer::ReadSize(std::uint32_t wanted) const {
  if (rate_ <= 0) return wanted;
  const double tenth = std::max(4096.0, rate_ * 100);
  return tenth < wanted ? static_cast<std::uint32_t>(tenth) : wanted;
}

}  // namespace qz
