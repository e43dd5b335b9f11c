#include "ui/wizard_link.h"

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>

#include "launcher/launcher_app.h"
#include "ui/resource_ids.h"

namespace qz::wizard {

namespace {

std::atomic<bool> g_stop{false};

// The newest figures the worker published and not yet shown. The worker never
// waits for the dialog: it leaves its newest texts here and posts one refresh;
// the dialog shows whatever is newest when it gets to it, so a slow repaint
// can neither slow the download nor pile up work.
struct Pending {
  std::mutex lock;
  std::map<int, std::wstring> texts;
  int progress = -1;
  bool posted = false;
};
Pending g_pending;

void Publish(HWND wizard) {
  // Called with the lock held.
  if (!g_pending.posted) {
    g_pending.posted = true;
    PostMessageW(wizard, kRefresh, 0, 0);
  }
}

}  // namespace

bool StopRequested() { return g_stop.load(std::memory_order_acquire); }

bool SetText(HWND wizard, int id, const wchar_t* text) {
  if (StopRequested()) return false;
  {
    std::lock_guard<std::mutex> hold(g_pending.lock);
    g_pending.texts[id] = text;
    Publish(wizard);
  }
  return !StopRequested();
}

bool SetProgress(HWND wizard, unsigned position) {
  if (StopRequested()) return false;
  {
    std::lock_guard<std::mutex> hold(g_pending.lock);
    g_pending.progress = static_cast<int>(position);
    Publish(wizard);
  }
  return !StopRequested();
}

void Finish(HWND wizard, int result) {
  // Posted after any refresh, so the last figures are shown before the end.
  if (!StopRequested()) PostMessageW(wizard, kWorkerDone, static_cast<WPARAM>(result), 0);
}

void ShowPending(HWND wizard) {
  std::map<int, std::wstring> texts;
  int progress;
  {
    std::lock_guard<std::mutex> hold(g_pending.lock);
    texts.swap(g_pending.texts);
    progress = g_pending.progress;
    g_pending.progress = -1;
    g_pending.posted = false;
  }
  for (const auto& [id, text] : texts) SetDlgItemTextW(wizard, id, text.c_str());
  if (progress >= 0) SendDlgItemMessageW(wizard, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(progress), 0);
}

void ClearStop() {
  g_stop.store(false, std::memory_order_release);
  std::lock_guard<std::mutex> hold(g_pending.lock);
  g_pending.texts.clear();
  g_pending.progress = -1;
  g_pending.posted = false;
}

void StopWorker(HANDLE thread) {
  if (!thread) return;
  g_stop.store(true, std::memory_order_release);
  if (g_app) g_app->httpClient.AbortRequest();
  // The worker sends nothing to the dialog, but a message box it shows is its
  // own; wait for the thread while serving anything sent to this one.
  for (;;) {
    const DWORD r = MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE);
    if (r != WAIT_OBJECT_0 + 1) break;
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

}  // namespace qz::wizard
