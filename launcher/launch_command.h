// The launcher's command line: who started it, and so what it is to do. The
// control starts it with a section name, the shell with a "quorlynx:" link a
// browser handed over, and whatever installs it with a registration option.
#pragma once

#include <string>

namespace qz {

enum class LaunchForm {
  Section,             // "K" and ten more characters: the control's hand-over
  Link,                // exactly one quoted "quorlynx:" address, as the shell passes "%1"
  BadLink,             // names the link scheme, but is not exactly one quoted address
  RegisterProtocol,    // --register-protocol
  UnregisterProtocol,  // --unregister-protocol
  Unreadable,          // anything else
};

constexpr char kRegisterProtocolOption[] = "--register-protocol";
constexpr char kUnregisterProtocolOption[] = "--unregister-protocol";

struct LaunchCommand {
  LaunchForm form = LaunchForm::Unreadable;
  std::string link;  // for Link: the address without its quotes
};

// The command line after the program's name (as WinMain gets it). A link is
// taken only whole: one pair of quotes around visible ASCII without blanks or
// quotes, and nothing before or after, so a page cannot add arguments of its
// own through a quote in its link.
LaunchCommand ReadLaunchCommand(const char* commandLine);

}  // namespace qz
