// When a file's download gives up: a try that crawls counts as a stall, a try
// counts as progress only when the saved file grows beyond the most it has
// held, and every file has a cap on tries in all. Pure rules: the Win32 side
// feeds them times and sizes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qz {

// A try is stalled once a whole window passes in which fewer than
// `minBytesPerSecond` bytes a second arrived on average. The windows follow
// one another from the try's start; each is judged when it has passed.
class StallWatch {
 public:
  static constexpr std::uint32_t kWindowMs = 60000;
  static constexpr std::uint32_t kMinBytesPerSecond = 1024;

  explicit StallWatch(std::uint32_t windowMs = kWindowMs,
                      std::uint32_t minBytesPerSecond = kMinBytesPerSecond);
  // A try starts: its first window opens now.
  void Start(double nowMs);
  // `bytes` arrived in this try so far, at `nowMs`; true once it stalled.
  bool Stalled(double nowMs, std::uint64_t bytes);

 private:
  std::uint32_t windowMs_;
  std::uint32_t minBytesPerSecond_;
  double windowStart_ = 0;
  std::uint64_t bytesAtStart_ = 0;
};

// After each try that did not finish the file: go on at once, pause first,
// or give up. Progress (the saved file holds more than it ever did, and the
// try did not stall) goes on at once and starts the pauses anew; any other
// try takes the next pause, and with none left gives up, as does the try
// that reaches the cap.
class TryBudget {
 public:
  static constexpr unsigned kMaxTries = 24;

  struct Next {
    enum Kind { AtOnce, Pause, GiveUp } kind;
    std::size_t pause;  // Pause: the index of the pause to take
  };

  // `pauses` is how many pauses there are. The mark starts at nothing: a part
  // of an earlier run counts once a try kept it.
  explicit TryBudget(std::size_t pauses, unsigned maxTries = kMaxTries);
  Next AfterTry(std::uint64_t held, bool stalled = false);
  unsigned Tries() const { return tries_; }
  // For the log: "try 3 of at most 24, the file holds 1000 bytes (most 2000)".
  std::string Text(std::uint64_t held) const;

 private:
  std::size_t pauses_;
  std::size_t nextPause_ = 0;
  std::uint64_t most_ = 0;
  unsigned maxTries_;
  unsigned tries_ = 0;
};

// Holds a download under a cap (bytes a second, over the whole run): a
// bucket that fills at the cap up to a quarter second's worth, from which
// every read takes what it brought; when it runs dry, the reader waits until
// the cap has caught up. Reads are kept to a tenth of a second's worth, so no
// read brings a burst of more than about twice the cap.
class RatePacer {
 public:
  explicit RatePacer(std::uint64_t bytesPerSecond = 0);  // 0: no cap
  bool Capped() const { return rate_ > 0; }
  // `bytes` arrived at `nowMs`: how long to wait before the next read.
  double AfterRead(double nowMs, std::uint64_t bytes);
  // The largest read the cap allows (a tenth of a second's bytes, at least
  // 4 KiB), or `wanted` when that is smaller or there is no cap.
  std::uint32_t ReadSize(std::uint32_t wanted) const;

 private:
  double rate_;  // bytes a millisecond
  double tokens_ = 0;
  double last_ = -1;
};

// Whether a server's validator may go back to it in If-Range: an entity tag
// (an optional W/, then a quoted string of etagc characters) or a date of
// letters, digits, blanks, colons and commas. Anything else (a line break, a
// header of its own) is discarded rather than sent.
bool IsSendableValidator(const std::string& validator);

}  // namespace qz
