// Handing the launch record to another program through a named section: the
// writer publishes it and starts the receiver with the section's name; the
// receiver copies it out at once. Nothing is signalled back; the writer keeps
// the section alive for a fixed delay.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "base/command_line.h"
#include "base/win_handles.h"
#include "record/launch_block.h"
#include "record/section_name.h"

namespace qz {

// Publishes the block, starts exePath with the section name, waits delayMs and
// releases the section. Returns true when the receiving process was created
// (through the shell when the program asks for more rights than ours).
bool HandOverBlock(const LaunchBlock& block, const std::string& exePath, const char* workDir,
                   SectionForm form, DWORD delayMs);

// Who may open a published record's section besides the process that made it.
enum class SectionAccess {
  // This account (the game, a launcher of the player's), under a name from
  // the tick count.
  Owner,
  // Only the machine's administrators, to read the record and write their
  // answer: the launcher's elevated copy, which may run under another account
  // (a player without rights types an administrator's password). No process
  // of the player can open it after it is made, nor rewrite its access list,
  // and its name comes from the system's random generator.
  ElevatedCopy,
};

// The record in a new section of our own under a fresh name, open while this
// lives. `roomBytes` after the record are the receiver's, to answer in.
class PublishedRecord {
 public:
  bool Publish(const LaunchBlock& block, SectionForm form, std::size_t roomBytes, SectionAccess access);
  const std::string& Name() const { return name_; }
  // The receiver's room as it left it; null before Publish.
  const void* Room() const;
  std::size_t RoomSize() const { return roomBytes_; }

 private:
  Handle section_;
  MappedView view_;
  std::string name_;
  std::size_t roomBytes_ = 0;
};

// Receiver side: copies the block out of the named section.
bool TakeOverBlock(const char* sectionName, LaunchBlock* out);

// Receiver side, for the elevated copy: whether nobody but SYSTEM and the
// administrators may change the named section or rewrite its access list,
// as a section published for it is made. A section the player's processes
// could rewrite while the rights prompt is shown is not believed.
bool OnlyAdministratorsMayChangeSection(const char* sectionName);

// Receiver side of a record published with room after it: the room, mapped
// for writing. Empty when the section has no room.
struct SectionRoom {
  MappedView view;
  void* bytes = nullptr;
  std::size_t size = 0;
};
SectionRoom OpenRoomAfterBlock(const char* sectionName);

// Waits without anything to wake the wait: the fixed delays that keep a
// section or a start mutex alive for the receiver.
void HoldFor(DWORD delayMs);

}  // namespace qz
