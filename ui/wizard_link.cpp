#include "ui/wizard_link.h"

#include <windows.h>
#include <commctrl.h>

#include <atomic>

#include "launcher/launcher_app.h"

namespace qz::wizard {

namespace {
std::atomic<bool> g_stop{false};
}

bool StopRequested() { return g_stop.load(std::memory_order_acquire); }

bool SetText(HWND wizard, int id, const wchar_t* text) {
  if (StopRequested()) return false;
  SetDlgItemTextW(wizard, id, text);
  return !StopRequested();
}

bool SetProgress(HWND wizard, unsigned position) {
  if (StopRequested()) return false;
  SendDlgItemMessageW(wizard, 1005, PBM_SETPOS, position, 0);
  return !StopRequested();
}

void Finish(HWND wizard, int result) {
  if (!StopRequested()) PostMessageW(wizard, kWorkerDone, static_cast<WPARAM>(result), 0);
}

void ClearStop() { g_stop.store(false, std::memory_order_release); }

void StopWorker(HANDLE thread) {
  if (!thread) return;
  g_stop.store(true, std::memory_order_release);
  if (g_app) g_app->httpClient.AbortRequest();
  for (;;) {
    const DWORD r = MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE);
    if (r != WAIT_OBJECT_0 + 1) break;  // the thread ended (or the wait failed)
    MSG msg;
    // Serves the worker's pending SendMessage calls; posted messages stay queued.
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

}  // namespace qz::wizard
