// The wizard's work in the launcher: the download worker on a thread of its
// own, reporting to the wizard's progress page.
#pragma once

#include <windows.h>

#include "base/win_handles.h"
#include "ui/dialogs.h"
#include "update/download_worker.h"

namespace qz {

// Forwards the worker's reports to the wizard through its link, in the
// wizard's words.
class WizardProgress final : public ProgressSink {
 public:
  explicit WizardProgress(HWND wizard = nullptr) : wizard_(wizard) {}
  bool StopRequested() const override;
  bool ShowLine(Line line, const std::wstring& text) override;
  bool ShowStatus(WorkerStatus status, const std::string& subject, const std::string& detail) override;
  bool ShowPercent(unsigned percent) override;
  bool Settle() override;
  void ShowFailure(const WorkerFailure& failure) override;
  void Finish(WorkerOutcome outcome) override;

 private:
  HWND wizard_;
};

class DownloadTask final : public WizardTask {
 public:
  // `thread` is the owner that holds the worker's thread while it runs.
  DownloadTask(DownloadRequest request, Handle& thread);
  ~DownloadTask() override;
  DownloadTask(const DownloadTask&) = delete;
  DownloadTask& operator=(const DownloadTask&) = delete;

  bool Start(HWND wizard, const std::string& setupSavePath) override;
  bool Running() const override { return static_cast<bool>(thread_); }
  void Stop() override;

  const DownloadOutcome& Outcome() const { return outcome_; }

 private:
  static DWORD WINAPI ThreadMain(LPVOID self);

  DownloadRequest request_;
  Handle& thread_;
  WizardProgress sink_;
  DownloadOutcome outcome_;
};

}  // namespace qz
