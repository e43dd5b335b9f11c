// Handing the launch record to another program through a named section: the
// writer publishes it and starts the receiver with the section's name; the
// receiver copies it out at once. Nothing is signalled back; the writer keeps
// the section alive for a fixed delay.
#pragma once

#include <windows.h>

#include <string>

#include "base/command_line.h"
#include "record/launch_block.h"
#include "record/section_name.h"

namespace qz {

// Publishes the block, starts exePath with the section name, waits delayMs and
// releases the section. Returns true when the receiving process was created.
bool HandOverBlock(const LaunchBlock& block, const std::string& exePath, const char* workDir,
                   SectionForm form, DWORD delayMs);

// Receiver side: copies the block out of the named section.
bool TakeOverBlock(const char* sectionName, LaunchBlock* out);

// Waits without anything to wake the wait: the fixed delays that keep a
// section or a start mutex alive for the receiver.
void HoldFor(DWORD delayMs);

}  // namespace qz
