#include "launcher/launch_command.h"

#include <string_view>

#include "format/ticket.h"
#include "record/section_name.h"

namespace qz {

LaunchCommand ReadLaunchCommand(const char* commandLine) {
  const std::string_view line = commandLine ? commandLine : "";
  LaunchCommand command;
  if (IsLauncherToken(commandLine)) {
    command.form = LaunchForm::Section;
  } else if (line == kRegisterProtocolOption) {
    command.form = LaunchForm::RegisterProtocol;
  } else if (line == kUnregisterProtocolOption) {
    command.form = LaunchForm::UnregisterProtocol;
  } else if (StartsWithTicketScheme(line.substr(!line.empty() && line.front() == '"' ? 1 : 0))) {
    command.form = LaunchForm::BadLink;
    if (line.size() < 2 || line.front() != '"' || line.back() != '"') return command;
    const std::string_view link = line.substr(1, line.size() - 2);
    for (unsigned char c : link) {
      if (c <= 0x20 || c >= 0x7F || c == '"') return command;
    }
    command.form = LaunchForm::Link;
    command.link = std::string(link);
  }
  return command;
}

}  // namespace qz
