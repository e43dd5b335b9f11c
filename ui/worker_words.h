// The download worker's report in the player's words: the fixed lines of the
// progress page and the message of a failed run. Pure, so the wording can be
// checked exactly; the caller converts the data (paths, addresses) first.
#pragma once

#include <cstdint>
#include <string>

#include "base/worker_report.h"

namespace qz {

// The line for `status`; ExtractingTo takes the folder as subject and the
// entry's name as detail.
std::wstring StatusText(WorkerStatus status, const std::wstring& subject = L"",
                        const std::wstring& detail = L"");

// The message box text for a failure; empty for FailureKind::Quiet and
// NoRights (the launcher then hands the change on instead).
std::wstring FailureText(FailureKind kind, const std::wstring& subject, std::uint64_t bytesNeeded = 0,
                         const std::wstring& entryName = L"");

// "120 MB" below a gigabyte, then "1.3 GB", then "2.5 TB"; rounded up, so
// the text never asks for less than is needed.
std::wstring SpaceText(std::uint64_t bytes);

}  // namespace qz
