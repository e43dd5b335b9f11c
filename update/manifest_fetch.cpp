#include "update/manifest_fetch.h"

#include <string>

#include "base/field_text.h"
#include "base/run_log.h"
#include "base/settings.h"
#include "format/limits.h"
#include "format/web_address.h"
#include "update/digest.h"

namespace qz {

namespace {

// A signature file is one line of base64; anything much longer is not one.
constexpr DWORD kMaxSignatureBytes = 2048;  // kMaxSignatureLines lines and their ends

// The whole text or nothing: a body that ends before its announced length or
// a failed read is a failed fetch, never a shorter text.
bool FetchText(HttpClient& client, const std::string& url, DWORD maxBytes, std::string& text) {
  const bool fetched = [&] {
    if (!client.Get(url.c_str()) || !client.IsStatusOk()) return false;
    const std::uint64_t announced = client.ContentLength();
    if (announced == 0 || announced > maxBytes) return false;
    const auto length = static_cast<DWORD>(announced);
    text.assign(length, '\0');
    for (DWORD got = 0; got < length;) {
      const int n = client.Read(&text[got], length - got);
      if (n <= 0) return false;
      got += static_cast<DWORD>(n);
    }
    return true;
  }();
  client.CloseRequest();
  return fetched;
}

// The manifest's bytes are the publisher's when one configured key verifies
// the signature published beside them.
bool SignedByTrustedKey(HttpClient& http, const std::string& url, const std::string& manifest,
                        const ManifestTrust& trust) {
  const std::optional<std::vector<P256Signature>> signatures = FetchSignatures(http, url);
  const std::optional<Sha256Digest> digest = Sha256Of(manifest.data(), manifest.size());
  if (!signatures || !digest) return false;
  const std::size_t signers = KeysThatSigned(trust.keys, *digest, *signatures);
  if (trust.signaturesRequired > 1 || signatures->size() > 1) {
    runlog::Write("trust", std::to_string(signers) + " of the configured keys signed it (" +
                               std::to_string(signatures->size()) + " signature lines); " +
                               std::to_string(trust.signaturesRequired) + " required");
  }
  return signers >= trust.signaturesRequired && signers > 0;
}

}  // namespace

std::optional<std::vector<P256Signature>> FetchSignatures(HttpClient& http, const std::string& url) {
  std::string text;
  if (!FetchText(http, SignatureAddress(url), kMaxSignatureBytes, text)) return std::nullopt;
  return ParseSignatureLines(text);
}

FetchedPlan FetchUpdatePlan(HttpClient& http, const std::string& url, const ManifestTrust& trust,
                            const ManifestCheck& check) {
  FetchedPlan fetched;
  auto refuse = [&fetched](std::string why) {
    fetched.why = std::move(why);
    return std::move(fetched);  // nothing was taken: there is no plan to keep
  };
  std::string text;
  if (!FetchText(http, url, kMaxManifestBytes, text)) {
    fetched.notFetched = true;
    return refuse("not fetched whole");
  }
  if (trust.signatureRequired) {
    if (!trust.problem.empty()) return refuse(trust.problem);
    if (!SignedByTrustedKey(http, url, text, trust))
      return refuse("no configured key verifies its signature");
  }

  settings::InstallRecord record;
  const ManifestReading reading = ReadManifest(text, [&record](const std::string& name) {
    record = settings::ReadInstallRecord(name.c_str());
    return record.version;
  });
  if (reading.outcome == ManifestOutcome::Refused) return refuse("it holds a value the launcher refuses");
  const std::string& madeFor =
      reading.plan.channel.empty() ? std::string(kMainChannel) : reading.plan.channel;
  if (reading.outcome == ManifestOutcome::Read && madeFor != check.channel) {
    return refuse("it is made for the channel " + madeFor + ", not " + check.channel);
  }
  if (trust.signatureRequired) {
    const ManifestPlan& read = reading.plan;
    if (reading.outcome == ManifestOutcome::NoHeader) return refuse("signed, but not a manifest");
    // A signature vouches for the files only through their hashes.
    if (!EveryFileHashed(read)) return refuse("a file it names has no SHA256");
    ManifestExpectation expect;
    expect.target = check.target;
    expect.progName = check.pageProgName;
    expect.now = check.now;
    // The floors: the machine's (kept by administrators' changes), and,
    // for the player's own launcher, the user's.
    auto floor = [&](settings::SeenSerial (*read)(const char*, std::uint32_t&), const std::string& name) {
      std::uint32_t seen = 0;
      const settings::SeenSerial state = read(name.c_str(), seen);
      if (state == settings::SeenSerial::Read && (!expect.highestSerial || seen > *expect.highestSerial)) {
        expect.highestSerial = seen;
      }
      return state != settings::SeenSerial::Unreadable;
    };
    if (!floor(settings::ReadMachineSerial, read.progName) ||
        (!check.machineFloor && !floor(settings::ReadSeenSerial, read.progName))) {
      return refuse("the serial accepted before for " + read.progName + " cannot be read");
    }
    const BindingProblem problem = CheckManifestBinding(read, expect);
    if (problem != BindingProblem::None) {
      fetched.outOfDate = problem == BindingProblem::Expired;
      fetched.binding = problem;
      std::string facts;
      auto add = [&facts](const std::string& fact) { facts += (facts.empty() ? " (" : ", ") + fact; };
      if (read.target) add(std::string("Target ") + ManifestTargetName(*read.target));
      if (!read.progName.empty()) add("ProgName " + read.progName);
      if (read.serial) add("Serial " + std::to_string(*read.serial));
      if (expect.highestSerial) add("accepted before " + std::to_string(*expect.highestSerial));
      if (read.expires)
        add("expires " + ManifestTimeText(*read.expires) + ", now " + ManifestTimeText(check.now));
      return refuse(BindingProblemText(problem) + facts + (facts.empty() ? "" : ")"));
    }
    // Kept only once everything else passed: a refused manifest can never
    // raise the bar for the publisher's real one.
    std::uint32_t userSeen = 0;
    const bool userLower =
        settings::ReadSeenSerial(read.progName.c_str(), userSeen) != settings::SeenSerial::Read ||
        *read.serial > userSeen;
    if (!check.machineFloor && userLower &&
        !settings::RecordSeenSerial(read.progName.c_str(), *read.serial)) {
      return refuse("its serial could not be kept");
    }
    fetched.why = "signed, " + std::string(ManifestTargetName(*read.target)) + ", Serial " +
                  std::to_string(*read.serial) + ", expires " + ManifestTimeText(*read.expires);
  }
  ManifestPlan read = reading.plan;
  if (read.rollout) {
    // A staged release: this PC's bucket decides whether it takes the
    // rollout's version yet; outside the share it reads the version before.
    const std::uint32_t bucket = settings::ReadRolloutBucket();
    const bool in = InRollout(bucket, read.rollout->percent);
    runlog::Write("rollout", "version " + std::to_string(read.rollout->version) + " goes to " +
                                 std::to_string(read.rollout->percent) + " % of PCs; this one (bucket " +
                                 std::to_string(bucket) + ") " + (in ? "takes it" : "waits"));
    if (!in) HoldBackRollout(read);
  }
  UpdatePlan plan = PlanOf(read);
  if (trust.signatureRequired) plan.serial = *reading.plan.serial;
  if (check.target == ManifestTarget::Game) {
    plan.gameDir = record.runDir;
    plan.gameExe = record.runFile;
  }
  for (const std::string& note : plan.notes) runlog::Write("delta", note);
  fetched.plan = std::move(plan);
  return fetched;
}

FetchedPlan FetchChannelPlan(HttpClient& http, const std::string& url, const ManifestTrust& trust,
                             ManifestCheck check, const std::string& channel, std::string& at) {
  at = url;
  if (channel != kMainChannel) {
    check.channel = channel;
    at = ChannelAddress(url, channel);
    FetchedPlan fetched = FetchUpdatePlan(http, at, trust, check);
    if (fetched.plan || !fetched.notFetched) return fetched;
    runlog::Write("manifest", "GET " + at + ": not there; the main channel's instead");
    at = url;
  }
  check.channel = kMainChannel;
  return FetchUpdatePlan(http, at, trust, check);
}

std::int64_t UtcNow() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER ticks{};
  ticks.LowPart = now.dwLowDateTime;
  ticks.HighPart = now.dwHighDateTime;
  return static_cast<std::int64_t>(ticks.QuadPart / 10000000u) - 11644473600;  // 1601 to 1970
}

}  // namespace qz
