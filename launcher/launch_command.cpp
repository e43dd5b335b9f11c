#include "launcher/launch_command.h"

#include <cstring>
#include <string_view>

#include "format/ticket.h"
#include "record/section_name.h"

namespace qz {

namespace {

bool NamesLinkScheme(std::string_view text) {
  if (!text.empty() && text.front() == '"') text.remove_prefix(1);
  const std::string_view scheme = kTicketScheme;
  if (text.size() < scheme.size()) return false;
  for (std::size_t i = 0; i < scheme.size(); ++i) {
    const char c = text[i];
    if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != scheme[i]) return false;
  }
  return true;
}

}  // namespace

LaunchCommand ReadLaunchCommand(const char* commandLine) {
  const std::string_view line = commandLine ? commandLine : "";
  LaunchCommand command;
  if (IsLauncherToken(commandLine)) {
    command.form = LaunchForm::Section;
  } else if (line == kRegisterProtocolOption) {
    command.form = LaunchForm::RegisterProtocol;
  } else if (line == kUnregisterProtocolOption) {
    command.form = LaunchForm::UnregisterProtocol;
  } else if (NamesLinkScheme(line)) {
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
