// The support log: Quorlynx.log in the work folder, one line per step (time,
// phase, what was done with which address, status, sizes, error codes with
// their texts, the decision and the result), so a failure can be explained
// afterwards. It never holds cookies or other values of the launch record
// but its addresses, its run mode and its program name.
#pragma once

#include <cstddef>
#include <string>

namespace qz::runlog {

// The log's name in the work folder (WorkDirBelow).
constexpr char kFileName[] = "Quorlynx.log";

// The log is kept under this size: when a line would take it over, the older
// half moves to "<log>.1" (replacing what was there).
constexpr std::size_t kMaxBytes = 1 << 20;

// One line as written: "<time> [<phase>] <text>\r\n"; a line break or other
// control character inside the text becomes a blank, so one step stays one line,
// and every address in it loses its query and fragment (WithoutQueries).
std::string LineText(const std::string& time, const char* phase, const std::string& text);
// The text with each address ("scheme://...", up to a blank or a quote) cut
// before its first "?" or "#": a signed address's token never reaches the log.
std::string WithoutQueries(const std::string& text);
// What the exception being handled is, for a catch-all's line: its type and
// message, or "an exception of unknown type". Call only inside a catch block.
std::string CaughtText();
// Where the newer half of a full log begins: the first line that starts at or
// after its middle (the end of the text when there is none).
std::size_t NewerHalfStart(const std::string& content);

// A room in shared memory that carries one process's lines to another (the
// elevated copy's to the launcher that started it, which has the log file):
// a 4-byte count of the text bytes, then the lines as written. A line that no
// longer fits is left out; false then.
bool AppendToRoom(void* room, std::size_t size, const std::string& line);
// The text a room holds, bounded by its size whatever its count says.
std::string RoomText(const void* room, std::size_t size);

#ifdef _WIN32
// Starts logging to `path` (nothing is written before). Any thread may Write.
void Open(const std::string& path);
// Instead, asks `pathOfLine` for the path before each line ("" writes none),
// under the log's lock: for a module without a run of its own (the browser
// control), whose folder may come or go between two lines.
void OpenEachTime(std::string (*pathOfLine)());
// Also (or, without Open, only) puts every line into a room (see AppendToRoom)
// that outlives the process; null stops that.
void MirrorTo(void* room, std::size_t size);
// Also (or, without Open, only) hands every line as written to `send` (the
// maintenance service passes its lines to the launcher that asked it); null
// stops that.
void SendTo(void (*send)(const std::string& line));
void Write(const char* phase, const std::string& text);
// A catch-all's line: "unexpected error: <CaughtText>". Never throws (a
// log that cannot be written is no error). Call only inside a catch block.
void WriteCaught(const char* phase) noexcept;
// "12029 (text of the code)": a system or WinINet error code with its text.
std::string ErrorText(unsigned long code);
#endif

}  // namespace qz::runlog
