// Who may change an object, read from its security descriptor: what the
// elevated side asks of everything it takes from the player's session (the
// section that carries the launch record, the folder a setup program runs
// from, a lock another process may have made first). Wine stores descriptors
// but enforces none, so these answers are what the tests can check there.
#pragma once

#include <windows.h>
#include <accctrl.h>

#include <string>

namespace qz {

// Rights that change an object or what it holds: writing, deleting, and
// rewriting its access list or owner.
constexpr DWORD kChangingRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
                                  FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                  GENERIC_ALL | MAXIMUM_ALLOWED;

enum class AccessVerdict {
  OnlyTrusted,  // no account but the trusted ones may change it
  OthersMay,    // another account may change it (or its owner may rewrite the list)
  Unreadable,   // its owner or access list cannot be read
};

// Whether anyone but SYSTEM, the administrators and `userSid` ("" for none)
// may use `rights` on the object whose descriptor is given. The owner may
// always rewrite the list unless an OWNER RIGHTS entry limits it, so an owner
// outside the trusted accounts counts as "others may" without one. An
// allowing entry of a kind this check does not read counts against it.
AccessVerdict WhoMayChange(PSECURITY_DESCRIPTOR descriptor, DWORD rights, const std::string& userSid = "");

// The same for an open kernel object or file.
AccessVerdict WhoMayChange(HANDLE object, SE_OBJECT_TYPE type, DWORD rights, const std::string& userSid = "");

// The user of this process's token, in its text form ("S-1-5-21-..."); "" when
// it cannot be read.
std::string OwnUserSid();

// Bytes from the system's random number generator; false when it gave none.
// Names the elevated side creates are taken from it, so no other process can
// predict them and make them first.
bool RandomBytes(void* buffer, std::size_t size);
// A random number in [low, high]; `low` when the generator failed.
unsigned RandomBetween(unsigned low, unsigned high);
// 16 random hexadecimal digits; "" when the generator failed.
std::string RandomHexName();

}  // namespace qz
