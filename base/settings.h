// The product's settings on the machine: the key under HKEY_LOCAL_MACHINE that
// holds the machine-wide values (the trusted sites, the keys of publishers
// and portals) and one installation record per program, the policy key Group
// Policy fills with the same values, and the launch tickets each user's
// launcher has taken. Only this unit knows where they live.
//
// Every machine setting (base/machine_settings.h) is looked up under the
// policy key first: a value there, in the 64-bit view, decides alone for the
// programs of both widths, even when it cannot be used (a list then holds
// nothing, a number or text is its fallback). Only without it does the
// product key's value count.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/registry_view.h"
#include "base/win_handles.h"

namespace qz::settings {

// Opens the installation record of a program ("<product key>\<program>"),
// in this program's registry view or else the other width's (a setup program
// of either width may have written it). `create` makes it in the own view
// when it is in neither.
bool OpenInstallRecord(const char* progName, REGSAM access, bool create, RegKey& key);

// What a program's installation record says. A value that cannot be read,
// or a path that would not fit a Windows path, is left empty (0 for the
// version), never cut.
struct InstallRecord {
  bool found = false;  // the record is there (in either view)
  std::uint16_t version = 0;
  std::string runDir;   // the game's folder, with its final backslash
  std::string runFile;  // the game's program
};
InstallRecord ReadInstallRecord(const char* progName);

// Writes "Version" of a program's record as decimal text. Without `create`, a
// record no setup program made is left alone. False when nothing was written.
bool WriteRecordVersion(const char* progName, std::uint16_t version, bool create);

// Whether this process may write the program's record, asked before a change:
// true when the record opens for writing, when it is in neither view and
// `create` and this process may make it there, or when there is none and none
// is to be made. Asking changes nothing.
bool MayWriteRecord(const char* progName, bool create);

// The items of a REG_MULTI_SZ value of the policy key, else of the product
// key in the given views, in order: each string, or each part of a string
// between ";", without the blanks around it, empty ones left out; a view
// where the value is missing, of another type or over 64 KiB adds nothing.
std::vector<std::string> ReadProductList(const char* valueName, ViewPolicy views);

// A list of keys in a REG_MULTI_SZ value of the policy key, else of the
// product key read in the given views: absent, present and usable, or present and unusable. Missing:
// no view has the value. Unusable: a view has it, but of another type, over
// 64 KiB, unreadable, or without a single string. Keys were configured then,
// so whatever relies on them refuses rather than run without them; `why`
// says what was wrong, for the support log. The strict read for every
// trust setting.
struct ProductKeyList {
  enum class State { Missing, Unusable, Read } state = State::Missing;
  std::vector<std::string> lines;  // in order, from every view that has them
  std::string why;                 // Unusable only: the first view's fault
};
ProductKeyList ReadProductKeys(const char* valueName, ViewPolicy views);

// Takes a launch ticket's nonce (hex text) for the current user, kept until
// `keepUntil` (seconds since 1970 UTC), the last moment its ticket could be
// accepted; nonces kept past `now` are dropped first. The test and the taking
// are one step, so two launchers given the same ticket cannot both take it.
enum class NonceClaim {
  Taken,
  AlreadyUsed,  // taken before and still kept: a replay
  Failed,       // the store could not be read or written: refused as well
};
NonceClaim ClaimTicketNonce(const std::string& nonce, std::int64_t keepUntil, std::int64_t now);

// The highest manifest Serial this user's launcher has accepted for a
// program, one REG_DWORD per program under HKCU\Software\Veltoworks\Seen.
// None: no manifest of it was accepted yet. Unreadable: the value or key is
// there but cannot be read as a number, which refuses rather than forget.
enum class SeenSerial { None, Read, Unreadable };
SeenSerial ReadSeenSerial(const char* progName, std::uint32_t& serial);
// Keeps `serial` as the program's highest; false when it could not be kept.
bool RecordSeenSerial(const char* progName, std::uint32_t serial);

// The machine's floor for a program's manifests: the highest Serial an
// administrator's change accepted, kept as "Serial" (REG_DWORD) in its
// installation record, where only administrators may write. The elevated side
// reads only this floor; the player's launcher also honours it.
SeenSerial ReadMachineSerial(const char* progName, std::uint32_t& serial);
// The manifest address an administrator's change was made from, kept as
// "ManifestURL" in the record; "" when there is none or it cannot be read.
std::string ReadRecordedManifestUrl(const char* progName);
// After an administrator's change: the accepted Serial (raised, never
// lowered) and the manifest's address, in the record (made when missing and
// `create`). False when either could not be written.
bool RecordMachineManifest(const char* progName, std::uint32_t serial, const std::string& manifestUrl,
                           bool create);

// The download cap in KB/s: "RateLimitKBps" (REG_DWORD) of the machine's
// settings or of the player's own (HKCU\Software\Veltoworks); the lower
// of the two that are set, 0 when neither is (no cap).
std::uint32_t ReadRateLimitKBps();

// A REG_DWORD value of the policy key (machine settings only), else of the
// product key in this program's view; `fallback` when it is missing, of
// another type, or outside the bounds of its machine setting. Also for
// support and test settings, which only the product key holds and only the
// machine's administrator can set.
DWORD ReadProductNumber(const char* valueName, DWORD fallback);

// The release channel to follow: the policy key's "Channel" when set, else
// the player's own (HKCU\Software\Veltoworks, unless `machineOnly`, as for
// the elevated side), else the product key's, else "main". A value that is
// no channel name counts as not set.
std::string ReadChannel(bool machineOnly);

// This PC's rollout bucket (0 to 9999): "RolloutBucket" of the product key
// when an administrator set one (a test PC first in every release), else
// from the machine's identity that Windows made at random when it was set up
// (MachineGuid, which only administrators can change); 9999, the last bucket,
// when neither can be read.
std::uint32_t ReadRolloutBucket();

// How many distinct keys must sign ("SignaturesRequired" of the policy key,
// else of the product key; the player's settings never count): 1 when it is
// not set, nothing when it is set but of another type or outside 1 to 16.
std::optional<DWORD> ReadSignaturesRequired();

// A REG_SZ value of the policy key, else of the product key in this
// program's view; `fallback` when it is missing, empty, of another type or
// longer than its machine setting allows.
std::string ReadProductText(const char* valueName, const std::string& fallback);

}  // namespace qz::settings
