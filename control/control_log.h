// The control's lines in the player's support log ("[control] ..."): the
// launcher's own log in the player's work folder, and only while that folder
// is there and the player's own. The control never makes the folder nor
// changes it; without it the control logs nothing. Any thread may log.
#pragma once

#include <string>

namespace qz::control {

// One line; never throws (a log that cannot be written is no error).
void Log(const std::string& text) noexcept;
// A catch-all's line, naming the exception. Call only inside a catch block.
void LogCaught() noexcept;

}  // namespace qz::control
