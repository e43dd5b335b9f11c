#include "base/service_channel.h"

#include <sddl.h>

#include "base/access_list.h"
#include "base/run_log.h"

namespace qz {

FileHandle CreateServicePipe(bool first) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kServicePipeSddl, SDDL_REVISION_1, &descriptor,
                                                            nullptr)) {
    return FileHandle();
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  const DWORD open = PIPE_ACCESS_DUPLEX | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
  const DWORD mode = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS;
  FileHandle pipe(CreateNamedPipeA(kServicePipeName, open, mode, PIPE_UNLIMITED_INSTANCES,
                                   kServiceMessageBytes, kServiceMessageBytes, 0, &attributes));
  LocalFree(descriptor);
  return pipe;
}

FileHandle ConnectServicePipe(DWORD waitMs, std::string& why) {
  FileHandle pipe;
  for (int attempt = 0; attempt < 2 && !pipe; ++attempt) {
    pipe.reset(CreateFileA(kServicePipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
    if (pipe) break;
    const DWORD error = GetLastError();
    if (error != ERROR_PIPE_BUSY || attempt == 1 || !WaitNamedPipeA(kServicePipeName, waitMs)) {
      why = error == ERROR_FILE_NOT_FOUND ? std::string("the maintenance service is not running")
                                          : "the maintenance service's channel: " + runlog::ErrorText(error);
      SetLastError(error);
      return FileHandle();
    }
  }
  // The service's pipe only SYSTEM and the administrators may change; a
  // squatter's is its owner's. The service never learns what it said.
  if (WhoMayChange(pipe.get(), SE_KERNEL_OBJECT, kPipeOwningRights) != AccessVerdict::OnlyTrusted) {
    why = "the channel named as the maintenance service's is not the service's";
    SetLastError(ERROR_ACCESS_DENIED);
    return FileHandle();
  }
  DWORD mode = PIPE_READMODE_MESSAGE;
  if (!SetNamedPipeHandleState(pipe.get(), &mode, nullptr, nullptr)) {
    why = "the maintenance service's channel: " + runlog::ErrorText(GetLastError());
    return FileHandle();
  }
  return pipe;
}

FileHandle OpenServiceChannel(DWORD startMs, std::string& why) {
  FileHandle pipe = ConnectServicePipe(startMs, why);
  if (pipe || GetLastError() != ERROR_FILE_NOT_FOUND) return pipe;
  // Started on demand: the package lets interactive users start it, nothing more.
  struct ServiceHandle {
    SC_HANDLE h;
    ~ServiceHandle() {
      if (h) CloseServiceHandle(h);
    }
  };
  ServiceHandle manager{OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT)};
  ServiceHandle service{
      manager.h ? OpenServiceA(manager.h, kServiceName, SERVICE_START | SERVICE_QUERY_STATUS) : nullptr};
  if (!service.h) {
    const DWORD error = GetLastError();
    why = error == ERROR_SERVICE_DOES_NOT_EXIST ? std::string("the maintenance service is not installed")
                                                : "the maintenance service: " + runlog::ErrorText(error);
    return pipe;
  }
  if (!StartServiceA(service.h, 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
    why = "the maintenance service did not start: " + runlog::ErrorText(GetLastError());
    return pipe;
  }
  const ULONGLONG until = GetTickCount64() + startMs;
  do {
    Sleep(50);
    pipe = ConnectServicePipe(startMs, why);
    if (pipe || GetLastError() != ERROR_FILE_NOT_FOUND) return pipe;
  } while (GetTickCount64() < until);
  why = "the maintenance service started but opened no channel";
  return pipe;
}

bool WriteServiceMessage(HANDLE pipe, const std::string& message) {
  if (message.size() > kServiceMessageBytes) return false;
  DWORD written = 0;
  return WriteFile(pipe, message.data(), static_cast<DWORD>(message.size()), &written, nullptr) &&
         written == message.size();
}

bool ReadServiceMessage(HANDLE pipe, std::string& message) {
  char buffer[kServiceMessageBytes];
  DWORD read = 0;
  // ERROR_MORE_DATA: longer than any message of ours, refused whole.
  if (!ReadFile(pipe, buffer, sizeof buffer, &read, nullptr)) return false;
  message.assign(buffer, read);
  return true;
}

}  // namespace qz
