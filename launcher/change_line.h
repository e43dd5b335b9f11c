// The command line of the launcher's elevated copy: the launcher that may
// not make a change itself starts a copy with administrator rights as
//   /change avatar K1234_56789     or     /change game K1234_56789
// (the target, then the section that holds the launch record). Any other
// shape is not this form, and no shape of this form is a launcher token.
#pragma once

#include <optional>
#include <string>

namespace qz {

struct ChangeLine {
  bool avatar = false;  // the avatar module, else the game
  std::string section;  // "K" + 4 digits + "_" + 5 digits
};

std::string ChangeLineText(bool avatar, const std::string& section);
std::optional<ChangeLine> ParseChangeLine(const char* commandLine);

}  // namespace qz
