// Where the download worker reports: the lines and the bar of a progress
// page, a failure message, and the end of the run. Implemented by whoever
// shows the progress; the worker knows nothing of windows or controls.
#pragma once

#include <string>

namespace qz {

class ProgressSink {
 public:
  enum class Line { Count, Item, Position, Speed };

  virtual ~ProgressSink() = default;
  // The owner asked the worker to stop: it ends at once, touching nothing more.
  virtual bool StopRequested() const = 0;
  // False once a stop was requested.
  virtual bool ShowLine(Line line, const std::wstring& text) = 0;
  virtual bool ShowPercent(unsigned percent) = 0;
  // Tells the player why the run failed (a message box of its own).
  virtual void ShowFailure(const std::wstring& message) = 0;
  // The run is over: 1 done, 2 failed.
  virtual void Finish(int result) = 0;
};

}  // namespace qz
