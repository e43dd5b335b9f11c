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
      return FileHandle();
    }
  }
  // The service's pipe only SYSTEM and the administrators may change; a
  // squatter's is its owner's. The service never learns what it said.
  if (WhoMayChange(pipe.get(), SE_KERNEL_OBJECT, kPipeOwningRights) != AccessVerdict::OnlyTrusted) {
    why = "the channel named as the maintenance service's is not the service's";
    return FileHandle();
  }
  DWORD mode = PIPE_READMODE_MESSAGE;
  if (!SetNamedPipeHandleState(pipe.get(), &mode, nullptr, nullptr)) {
    why = "the maintenance service's channel: " + runlog::ErrorText(GetLastError());
    return FileHandle();
  }
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
