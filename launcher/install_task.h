// The wizard's work in the launcher: the download worker on a thread of its
// own, reporting to the wizard's progress page.
#pragma once

#include <windows.h>

#include "base/win_handles.h"
#include "format/service_request.h"
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

// The maintenance service's change on the same progress page: the thread
// reads the service's answers from its channel, words its figures as the
// worker's own and copies its log lines into the player's support log.
class ServiceTask final : public WizardTask {
 public:
  // `pipe` carries the request already; `fileCount` is how many files the
  // launcher's own reading of the manifest lists.
  ServiceTask(FileHandle pipe, int fileCount, Handle& thread);
  ~ServiceTask() override;
  ServiceTask(const ServiceTask&) = delete;
  ServiceTask& operator=(const ServiceTask&) = delete;

  bool Start(HWND wizard, const std::string& setupSavePath) override;
  bool Running() const override { return static_cast<bool>(thread_); }
  void Stop() override;

  // Failed with no refusal when the channel ended without an outcome.
  const ServiceReply& Answer() const { return answer_; }
  bool Cancelled() const { return cancelled_; }

 private:
  static DWORD WINAPI ThreadMain(LPVOID self);
  void Run();

  FileHandle pipe_;
  int fileCount_;
  Handle& thread_;
  WizardProgress sink_;
  ServiceReply answer_;
  bool cancelled_ = false;
};

}  // namespace qz
