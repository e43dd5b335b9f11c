// Where the download worker reports: the figures and fixed lines of a
// progress page, a failure, and the end of the run. Implemented by whoever
// shows the progress; the worker knows nothing of windows, controls or the
// words the player reads.
#pragma once

#include <cstdint>
#include <string>

#include "base/worker_report.h"

namespace qz {

// How a run ended; the values are the wizard's results.
enum class WorkerOutcome { Done = 1, Failed = 2 };

class ProgressSink {
 public:
  // The lines the worker fills with figures of its own; TimeLeft is empty
  // while the rate is not steady.
  enum class Line { Count, Speed, TimeLeft };

  virtual ~ProgressSink() = default;
  // The owner asked the worker to stop: it ends at once, touching nothing more.
  virtual bool StopRequested() const = 0;
  // Each is false once a stop was requested.
  virtual bool ShowLine(Line line, const std::wstring& text) = 0;
  virtual bool ShowStatus(WorkerStatus status, const std::string& subject = std::string(),
                          const std::string& detail = std::string()) = 0;
  virtual bool ShowPercent(unsigned percent) = 0;
  // The run's bytes after each block, for a sink that passes figures on
  // rather than the lines made of them.
  virtual bool ShowBytes(std::uint64_t /*done*/, std::uint64_t /*total*/) { return !StopRequested(); }
  // Returns once what was shown so far has been on the page for a moment, so
  // the last figures of a download are seen before the page moves on.
  virtual bool Settle() { return !StopRequested(); }
  // Tells the player why the run failed (not for FailureKind::Quiet).
  virtual void ShowFailure(const WorkerFailure& failure) = 0;
  // The run is over.
  virtual void Finish(WorkerOutcome outcome) = 0;
};

}  // namespace qz
