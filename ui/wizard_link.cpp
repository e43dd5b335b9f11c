#include "ui/wizard_link.h"

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <map>
#include <string>

#include "ui/resource_ids.h"

namespace qz::wizard {

namespace {

std::atomic<bool> g_stop{false};

// The newest figures the worker published and not yet shown. The worker never
// waits for the dialog: it leaves its newest texts here after every block,
// and the dialog shows whatever is newest on its refresh timer. Repainting
// per block would cost more than the download itself (and starve it on a
// small machine); the player cannot read faster than the timer anyway.
struct Pending {
  SRWLOCK lock = SRWLOCK_INIT;
  std::map<int, std::wstring> texts;
  int progress = -1;
  unsigned long long left = 0;       // changes the worker left, counted
  unsigned long long shownUpTo = 0;  // of those, how many the wizard has shown
  unsigned long long refreshes = 0;  // how often the wizard has shown what was left
};
Pending g_pending;

// A slim lock: taken on every block by the worker, so it must cost nothing
// when the dialog is not holding it.
struct Hold {
  explicit Hold(SRWLOCK& l) : lock(l) { AcquireSRWLockExclusive(&lock); }
  ~Hold() { ReleaseSRWLockExclusive(&lock); }
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;
  SRWLOCK& lock;
};

}  // namespace

bool StopRequested() { return g_stop.load(std::memory_order_acquire); }

bool SetText(int id, const wchar_t* text) {
  if (StopRequested()) return false;
  {
    Hold hold(g_pending.lock);
    g_pending.texts[id] = text;
    ++g_pending.left;
  }
  return !StopRequested();
}

bool SetProgress(unsigned position) {
  if (StopRequested()) return false;
  {
    Hold hold(g_pending.lock);
    g_pending.progress = static_cast<int>(position);
    ++g_pending.left;
  }
  return !StopRequested();
}

bool Settle() {
  // Bounded: a wizard that does not refresh (no timer) holds the worker at
  // most this long.
  constexpr DWORD kMostMs = 4 * kRefreshMs + 600;
  unsigned long long target = 0;
  {
    Hold hold(g_pending.lock);
    target = g_pending.left;
  }
  bool shown = false;
  unsigned long long shownAt = 0;  // the refresh that showed them
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < kMostMs) {
    if (StopRequested()) return false;
    {
      Hold hold(g_pending.lock);
      if (!shown && g_pending.shownUpTo >= target) {
        shown = true;
        shownAt = g_pending.refreshes;
      }
      // Shown, and one refresh later still there: seen.
      if (shown && g_pending.refreshes > shownAt) return true;
    }
    Sleep(10);
  }
  return !StopRequested();
}

void Finish(HWND wizard, DialogEnd end) {
  // Posted after any refresh, so the last figures are shown before the end.
  if (!StopRequested()) PostMessageW(wizard, kWorkerDone, static_cast<WPARAM>(end), 0);
}

void ShowPending(HWND wizard) {
  std::map<int, std::wstring> texts;
  int progress;
  {
    Hold hold(g_pending.lock);
    texts.swap(g_pending.texts);
    progress = g_pending.progress;
    g_pending.progress = -1;
    g_pending.shownUpTo = g_pending.left;
    ++g_pending.refreshes;
  }
  for (const auto& [id, text] : texts) SetDlgItemTextW(wizard, id, text.c_str());
  if (progress >= 0) SendDlgItemMessageW(wizard, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(progress), 0);
}

void ClearStop() {
  g_stop.store(false, std::memory_order_release);
  Hold hold(g_pending.lock);
  g_pending.texts.clear();
  g_pending.progress = -1;
  g_pending.shownUpTo = g_pending.left;
}

void RequestStop() { g_stop.store(true, std::memory_order_release); }

bool WaitForWorker(HANDLE thread, DWORD timeoutMs) {
  if (!thread) return true;
  const DWORD start = GetTickCount();
  for (;;) {
    const DWORD spent = GetTickCount() - start;
    if (spent >= timeoutMs) return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
    const DWORD r = MsgWaitForMultipleObjects(1, &thread, FALSE, timeoutMs - spent, QS_SENDMESSAGE);
    if (r == WAIT_OBJECT_0) return true;
    if (r != WAIT_OBJECT_0 + 1) return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

}  // namespace qz::wizard
