#include "format/service_request.h"

#include <charconv>

#include "format/limits.h"

namespace qz {

namespace {

bool NameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
         c == '.';
}

constexpr const char* kPhaseWords[] = {"Manifest", "Download", "Verify", "Apply"};
constexpr const char* kOutcomeWords[] = {"Applied", "Current", "Refused", "Failed"};
constexpr const char* kRefusalWords[] = {
    "None",   "Disabled",       "BadRequest",      "NotRegistered", "NoRecordedAddress",
    "NoKeys", "FolderWritable", "ManifestRefused", "NotAbove",      "NotAnUpgrade",
    "Busy"};

template <std::size_t N>
std::optional<std::size_t> WordIndex(const char* const (&words)[N], std::string_view word) {
  for (std::size_t i = 0; i < N; ++i)
    if (word == words[i]) return i;
  return std::nullopt;
}

// The next space-separated field; the text after it stays in `rest`.
std::string_view TakeField(std::string_view& rest) {
  const std::size_t space = rest.find(' ');
  const std::string_view field = rest.substr(0, space);
  rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
  return field;
}

std::optional<std::uint64_t> Number(std::string_view text) {
  std::uint64_t value = 0;
  if (text.empty() || text.size() > 20) return std::nullopt;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

std::optional<std::string> ParseServiceRequest(std::string_view message) {
  const std::string_view verb = kServiceRequestVerb;
  if (message.substr(0, verb.size()) != verb) return std::nullopt;
  const std::string_view name = message.substr(verb.size());
  if (name.empty() || name.size() > kMaxProgName || name.front() == '.' || name.back() == '.')
    return std::nullopt;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (!NameChar(name[i])) return std::nullopt;
    if (name[i] == '.' && name[i + 1] == '.') return std::nullopt;
  }
  return std::string(name);
}

std::string ServiceRequestText(std::string_view progName) {
  return kServiceRequestVerb + std::string(progName);
}

namespace {
// A control character would end or split the line on the caller's side.
std::string OneLine(const std::string& text) {
  std::string line;
  for (char c : text) line += (static_cast<unsigned char>(c) < 0x20) ? '?' : c;
  return line.substr(0, kServiceMessageLimit);
}
}  // namespace

std::string ServiceProgressText(const ServiceProgress& p) {
  const std::string file = OneLine(p.file);
  return std::string("Progress ") + kPhaseWords[static_cast<int>(p.phase)] + " " + std::to_string(p.done) +
         " " + std::to_string(p.total) + (file.empty() ? "" : " " + file);
}

std::string ServiceLogText(const std::string& line) { return "Log " + OneLine(line); }

std::string ServiceOutcomeText(ServiceOutcome outcome, ServiceRefusal refusal) {
  std::string text = std::string("Outcome ") + kOutcomeWords[static_cast<int>(outcome)];
  if (outcome == ServiceOutcome::Refused) text += std::string(" ") + ServiceRefusalWord(refusal);
  return text;
}

std::optional<ServiceReply> ParseServiceReply(std::string_view line) {
  std::string_view rest = line;
  const std::string_view kind = TakeField(rest);
  ServiceReply reply;
  if (kind == "Progress") {
    const auto phase = WordIndex(kPhaseWords, TakeField(rest));
    const auto done = Number(TakeField(rest));
    const auto total = Number(TakeField(rest));
    if (!phase || !done || !total) return std::nullopt;
    reply.progress = ServiceProgress{static_cast<ServicePhase>(*phase), *done, *total, std::string(rest)};
    return reply;
  }
  if (kind == "Log") {
    reply.kind = ServiceReply::Log;
    reply.log = std::string(line.substr(4));
    return reply;
  }
  if (kind != "Outcome") return std::nullopt;
  reply.kind = ServiceReply::Outcome;
  const auto outcome = WordIndex(kOutcomeWords, TakeField(rest));
  if (!outcome) return std::nullopt;
  reply.outcome = static_cast<ServiceOutcome>(*outcome);
  if (reply.outcome == ServiceOutcome::Refused) {
    const auto refusal = WordIndex(kRefusalWords, TakeField(rest));
    // A refusal always says why; "None" would be none.
    if (!refusal || *refusal == 0) return std::nullopt;
    reply.refusal = static_cast<ServiceRefusal>(*refusal);
  }
  if (!rest.empty()) return std::nullopt;
  return reply;
}

const char* ServiceRefusalWord(ServiceRefusal refusal) { return kRefusalWords[static_cast<int>(refusal)]; }

ServiceRefusal RefusalBeforeFetch(const ServiceFacts& f) {
  if (f.disabled) return ServiceRefusal::Disabled;
  if (!f.registered) return ServiceRefusal::NotRegistered;
  if (!f.addressRecorded) return ServiceRefusal::NoRecordedAddress;
  if (!f.keysUsable) return ServiceRefusal::NoKeys;
  if (!f.folderAdminOnly) return ServiceRefusal::FolderWritable;
  return ServiceRefusal::None;
}

ServiceRefusal RefusalAfterFetch(std::uint32_t serial, std::uint32_t floor, bool archivesOnlyUpgrade) {
  if (serial <= floor) return ServiceRefusal::NotAbove;
  if (!archivesOnlyUpgrade) return ServiceRefusal::NotAnUpgrade;
  return ServiceRefusal::None;
}

}  // namespace qz
