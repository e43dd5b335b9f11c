#include "publish/manifest_text.h"

#include <cctype>

#include "publish/publish_error.h"
#include "publish/publish_text.h"

namespace qz::publish {

namespace {

constexpr char kHeader[] = "[VLTWUpdateFile]";
constexpr char kSeparators[] = " \t\r\n{}";
// The launcher's keys, matched as it matches them: by the start of a token.
constexpr const char* kLauncherKeys[] = {"ProgName", "FullDnURL", "UpBaseURL", "MinVer", "UpFileList"};
constexpr char kShaKey[] = "SHA256";

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// Printable ASCII without the launcher's separators: one token, read back
// byte for byte on any code page.
bool IsPlainToken(const std::string& value) {
  if (value.empty()) return false;
  for (unsigned char c : value) {
    if (c <= 0x20 || c >= 0x7F || c == '{' || c == '}') return false;
  }
  return true;
}

// 127.x.y.z written as four decimal numbers; a name like 127.example is a host.
bool IsLoopbackV4(const std::string& host) {
  int parts = 0;
  std::size_t i = 0;
  while (i <= host.size()) {
    std::size_t end = host.find('.', i);
    if (end == std::string::npos) end = host.size();
    const std::string part = host.substr(i, end - i);
    if (part.empty() || part.size() > 3 || part.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(part) > 255 || (parts == 0 && part != "127")) {
      return false;
    }
    ++parts;
    i = end + 1;
  }
  return parts == 4;
}

void Refuse(const std::string& message) { throw PublishError(message); }

// The launcher fetches only web addresses; plain http only to this machine,
// where no one can change what is on the wire.
void CheckUrl(const std::string& url, const std::string& what) {
  if (!IsPlainToken(url)) Refuse(what + ": the address must be printable ASCII without blanks or braces");
  if (url.size() > kMaxUrl) {
    Refuse(what + ": the address must be shorter than 260 bytes (it has " + std::to_string(url.size()) + ")");
  }
  std::string rest;
  bool https = StartsWith(url, "https://");
  if (https) rest = url.substr(8);
  else if (StartsWith(url, "http://")) rest = url.substr(7);
  else Refuse(what + ": the address must begin with https://");
  const std::string authority = rest.substr(0, rest.find_first_of("/?#"));
  if (authority.empty() || authority.find('@') != std::string::npos) {
    Refuse(what + ": the address needs a host and no user name");
  }
  if (!https) {
    std::string host = authority[0] == '[' ? authority.substr(0, authority.find(']') + 1)
                                            : authority.substr(0, authority.find(':'));
    for (char& c : host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (host != "localhost" && host != "[::1]" && !IsLoopbackV4(host)) {
      Refuse(what + ": plain http is only for this machine (127.0.0.1); use https");
    }
  }
}

std::vector<std::string> Tokens(const std::string& text) {
  std::vector<std::string> tokens;
  std::size_t i = 0;
  while (true) {
    i = text.find_first_not_of(kSeparators, i);
    if (i == std::string::npos) break;
    const std::size_t end = text.find_first_of(kSeparators, i);
    tokens.push_back(text.substr(i, end == std::string::npos ? std::string::npos : end - i));
    if (end == std::string::npos) break;
    i = end;
  }
  return tokens;
}

}  // namespace

std::uint16_t ParseVersion(const std::string& text, const std::string& what) {
  unsigned long value = 0;
  bool digits = !text.empty() && text.size() <= 5;
  for (char c : text) {
    if (c < '0' || c > '9') digits = false;
    else value = value * 10 + static_cast<unsigned long>(c - '0');
  }
  if (!digits || value < 1 || value > 65535) Refuse(what + ": a version is a whole number from 1 to 65535, not '" + text + "'");
  return static_cast<std::uint16_t>(value);
}

void CheckManifest(const ManifestRequest& request) {
  if (!IsPlainToken(request.progName)) Refuse("--prog: the program name must be printable ASCII without blanks or braces");
  if (request.progName.size() > kMaxProgName) {
    Refuse("--prog: the program name must be shorter than 20 bytes (it has " + std::to_string(request.progName.size()) + ")");
  }
  if (request.progName.find('\\') != std::string::npos) Refuse("--prog: the program name names a registry key: no '\\'");
  if (request.minVer == 0) Refuse("--minver: a version is a whole number from 1 to 65535");
  CheckUrl(request.fullUrl, "--full");
  if (request.files.empty() && request.baseUrl.empty()) return;
  if (request.baseUrl.empty()) Refuse("--base: patch files need the base address they lie under");
  CheckUrl(request.baseUrl, "--base");
  const std::string base = request.baseUrl.back() == '/' ? request.baseUrl : request.baseUrl + "/";
  if (base.size() > kMaxUrl) Refuse("--base: with its final '/' the address must be shorter than 260 bytes");
  for (const PatchFile& f : request.files) {
    const std::string what = "--file " + std::to_string(f.version) + " " + f.name;
    if (f.version == 0) Refuse(what + ": a version is a whole number from 1 to 65535");
    if (!IsPlainToken(f.name) || f.name.find('/') != std::string::npos || f.name.find('\\') != std::string::npos) {
      Refuse(what + ": the file name must be printable ASCII without blanks, braces or folders");
    }
    // A launcher that skips an entry it has reads the file name as a key.
    for (const char* key : kLauncherKeys) {
      if (StartsWith(f.name, key)) Refuse(what + ": a file name must not begin with the key " + key);
    }
    if (StartsWith(f.name, kShaKey)) Refuse(what + ": a file name must not begin with the key SHA256");
    if (base.size() + f.name.size() > kMaxUrl) {
      Refuse(what + ": base address and file name together must be shorter than 260 bytes (they have " +
             std::to_string(base.size() + f.name.size()) + ")");
    }
  }
}

std::string ManifestText(const ManifestRequest& request) {
  CheckManifest(request);
  auto sha = [](const std::string& digest) {
    if (!IsSha256Hex(digest)) throw PublishError("internal: a digest is not 64 hexadecimal digits");
    return std::string(kShaKey) + " " + digest + "\n";
  };
  std::string text = std::string(kHeader) + "\n";
  text += "ProgName " + request.progName + "\n";
  text += "MinVer " + std::to_string(request.minVer) + "\n";
  text += "FullDnURL " + request.fullUrl + "\n" + sha(request.fullSha256);
  if (!request.baseUrl.empty()) text += "UpBaseURL " + request.baseUrl + "\n";
  for (const PatchFile& f : request.files) {
    text += "UpFileList " + std::to_string(f.version) + " " + f.name + "\n" + sha(f.sha256);
  }
  if (text.size() > kMaxManifest) Refuse("the manifest would exceed 65535 bytes; list fewer files");
  return text;
}

std::vector<ListedFile> ListManifestFiles(const std::string& text) {
  const std::vector<std::string> t = Tokens(text);
  if (t.empty() || !StartsWith(t[0], kHeader)) Refuse("not a manifest: it does not begin with [VLTWUpdateFile]");
  std::vector<ListedFile> files;
  std::string base;
  bool bindable = false;  // the token before is the end of a file entry
  for (std::size_t i = 1; i < t.size();) {
    const bool last = i + 1 >= t.size();
    if (StartsWith(t[i], kShaKey)) {
      if (last || !IsSha256Hex(t[i + 1])) Refuse("SHA256 must be followed by 64 hexadecimal digits");
      if (!bindable) Refuse("SHA256 must follow the FullDnURL or UpFileList entry it belongs to");
      files.back().sha256 = t[i + 1];
      bindable = false;
      i += 2;
      continue;
    }
    bindable = false;
    int key = -1;
    for (int k = 0; k < 5 && key < 0; ++k) {
      if (StartsWith(t[i], kLauncherKeys[k])) key = k;
    }
    const std::size_t values = key == 4 ? 2 : 1;
    if (key < 0 || i + values >= t.size()) {
      ++i;
      continue;
    }
    if (key == 1) {
      files.push_back({"FullDnURL", t[i + 1], ""});
      bindable = true;
    } else if (key == 2) {
      base = t[i + 1].back() == '/' ? t[i + 1] : t[i + 1] + "/";
    } else if (key == 4) {
      files.push_back({"UpFileList", base + t[i + 2], ""});
      bindable = true;
    }
    i += 1 + values;
  }
  return files;
}

}  // namespace qz::publish
