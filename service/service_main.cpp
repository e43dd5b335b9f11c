// QuorlynxService.exe: the maintenance service. Installed once by the client
// package, started on demand by a launcher that may not change a game, and
// stopped again after a minute without a caller. It serves one request at a
// time on its pipe and tells the Windows event log how each ended.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "base/run_log.h"
#include "base/service_channel.h"
#include "format/service_request.h"
#include "service/maintenance.h"

namespace qz {
namespace {

constexpr ULONGLONG kIdleMs = 60 * 1000;

// Event identifiers, one per way a request ends and one for the channel.
enum EventId : DWORD { Applied = 100, Current = 101, Refused = 102, Failed = 103, NoChannel = 110 };

SERVICE_STATUS_HANDLE g_status = nullptr;
std::atomic<bool> g_stopping{false};
std::atomic<bool> g_serving{false};
std::atomic<ULONGLONG> g_lastCaller{0};
HANDLE g_stopEvent = nullptr;

void Report(DWORD state, DWORD exitCode = NO_ERROR) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
  status.dwWin32ExitCode = exitCode;
  status.dwWaitHint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : 5000;
  SetServiceStatus(g_status, &status);
}

void Event(WORD type, DWORD id, const std::string& text) {
  HANDLE source = RegisterEventSourceA(nullptr, kServiceName);
  if (!source) return;
  const char* strings[] = {text.c_str()};
  ReportEventA(source, type, 0, id, nullptr, 1, 0, strings, nullptr);
  DeregisterEventSource(source);
}

// A caller of our own wakes the listener, which then sees the stop.
void WakeListener() {
  HANDLE pipe = CreateFileA(kServicePipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (pipe != INVALID_HANDLE_VALUE) CloseHandle(pipe);
}

void Stop() {
  g_stopping = true;
  SetEvent(g_stopEvent);
  WakeListener();
}

DWORD WINAPI Control(DWORD control, DWORD, LPVOID, LPVOID) {
  if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
    Report(SERVICE_STOP_PENDING);
    Stop();
  }
  return NO_ERROR;
}

// Ends the service once nobody asked for a while.
DWORD WINAPI IdleWatch(LPVOID) {
  while (WaitForSingleObject(g_stopEvent, 1000) == WAIT_TIMEOUT) {
    if (!g_serving && GetTickCount64() - g_lastCaller > kIdleMs) {
      Stop();
      break;
    }
  }
  return 0;
}

void ServeOne(HANDLE pipe) {
  std::string message;
  if (!ReadServiceMessage(pipe, message)) return;
  ULONG caller = 0;
  GetNamedPipeClientProcessId(pipe, &caller);
  const ServiceAnswer answer = ServeUpdateRequest(pipe, message, g_stopping);
  WriteServiceMessage(pipe, ServiceOutcomeText(answer.outcome, answer.refusal));
  const std::string who = "process " + std::to_string(caller) + " asked for " +
                          (answer.progName.empty() ? std::string("(no program)") : answer.progName) + ": ";
  switch (answer.outcome) {
    case ServiceOutcome::Applied: Event(EVENTLOG_INFORMATION_TYPE, Applied, who + "upgrade applied"); break;
    case ServiceOutcome::Current: Event(EVENTLOG_INFORMATION_TYPE, Current, who + "already current"); break;
    case ServiceOutcome::Refused:
      Event(EVENTLOG_WARNING_TYPE, Refused, who + "refused: " + ServiceRefusalWord(answer.refusal));
      break;
    case ServiceOutcome::Failed: Event(EVENTLOG_ERROR_TYPE, Failed, who + "failed"); break;
  }
  FlushFileBuffers(pipe);
}

void Serve() {
  g_lastCaller = GetTickCount64();
  Handle watch(CreateThread(nullptr, 0, IdleWatch, nullptr, 0, nullptr));
  while (!g_stopping) {
    // One instance at a time, made anew for each caller; a name someone else
    // holds already is never shared.
    FileHandle pipe = CreateServicePipe(true);
    if (!pipe) {
      Event(EVENTLOG_ERROR_TYPE, NoChannel, "the channel could not be made: " + runlog::ErrorText(GetLastError()));
      break;
    }
    const bool connected = ConnectNamedPipe(pipe.get(), nullptr) || GetLastError() == ERROR_PIPE_CONNECTED;
    if (g_stopping) break;
    if (!connected) continue;
    g_serving = true;
    try {
      ServeOne(pipe.get());
    } catch (...) {
      Event(EVENTLOG_ERROR_TYPE, Failed, "unexpected error: " + runlog::CaughtText());
    }
    DisconnectNamedPipe(pipe.get());
    g_lastCaller = GetTickCount64();
    g_serving = false;
  }
  Stop();
  if (watch) WaitForSingleObject(watch.get(), 5000);
}

void WINAPI ServiceMain(DWORD, LPSTR*) {
  g_status = RegisterServiceCtrlHandlerExA(kServiceName, Control, nullptr);
  if (!g_status) return;
  g_stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  Report(SERVICE_RUNNING);
  Serve();
  Report(SERVICE_STOPPED);
}

}  // namespace
}  // namespace qz

int main() {
  SERVICE_TABLE_ENTRYA table[] = {{const_cast<char*>(qz::kServiceName), qz::ServiceMain}, {nullptr, nullptr}};
  if (StartServiceCtrlDispatcherA(table)) return 0;
  std::fprintf(stderr, "QuorlynxService.exe runs as the service %s only: install it with the client package.\n",
               qz::kServiceName);
  return 2;
}
