#include "publish/mirror_check.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "format/web_address.h"
#include "publish/publish_crypto.h"

extern char** environ;

namespace qz::publish {

namespace {

struct Fetched {
  bool got = false;  // the server answered with a body
  std::string sha256;
  std::uint64_t bytes = 0;
  int exit = 0;  // curl's: 22 is an answer of 400 or more
};

// The address goes to curl as one argument, never through a shell.
Fetched FetchWithCurl(const std::string& url) {
  Fetched f;
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return f;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  const char* argv[] = {
      "curl", "-sS", "-L", "--fail",    "--proto", "=https,http", "--max-redirs", "8", "--connect-timeout",
      "20",   "-o",  "-",  url.c_str(), nullptr};
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, "curl", &actions, nullptr, const_cast<char**>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  if (spawned != 0) {
    close(pipeFds[0]);
    f.exit = 127;
    return f;
  }
  Sha256Stream sha;
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    sha.Update(buffer, static_cast<std::size_t>(n));
    f.bytes += static_cast<std::uint64_t>(n);
  }
  close(pipeFds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  f.exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
  f.got = f.exit == 0;
  f.sha256 = sha.HexDigest();
  return f;
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

}  // namespace

std::vector<std::string> ManifestMirrors(const std::string& text) {
  return ReadManifest(text, [](const std::string&) { return std::uint16_t{0}; }).plan.mirrors;
}

bool CheckMirrors(const std::vector<std::string>& mirrors, const std::vector<ListedFile>& files,
                  std::ostream& out) {
  bool good = true;
  if (mirrors.empty()) out << "mirrors: none listed (MirrorURL)\n";
  for (const std::string& mirror : mirrors) {
    std::size_t ok = 0;
    std::vector<std::string> lines;
    for (const ListedFile& file : files) {
      const std::optional<std::string> url = MirroredAddress(file.url, mirror);
      std::string verdict;
      if (!url) {
        verdict = "NOT AN ADDRESS";
      } else {
        const Fetched f = FetchWithCurl(*url);
        if (f.exit == 127)
          verdict = "NOT CHECKED (curl cannot be started)";
        else if (!f.got)
          verdict = "MISSING (curl exit " + std::to_string(f.exit) + ")";
        else if (file.size && f.bytes != *file.size)
          verdict = "SIZE DIFFERS (" + std::to_string(f.bytes) + " bytes, the manifest says " +
                    std::to_string(*file.size) + ")";
        else if (!file.sha256.empty() && f.sha256 != Lower(file.sha256))
          verdict = "DIFFERS (SHA-256 " + f.sha256 + ")";
      }
      if (verdict.empty()) {
        ++ok;
      } else {
        lines.push_back("  " + file.key + " " + url.value_or(file.url) + ": " + verdict);
      }
    }
    out << "mirror " << mirror << ": " << ok << " of " << files.size() << " files ok\n";
    for (const std::string& line : lines) out << line << "\n";
    good = good && lines.empty();
  }
  return good;
}

}  // namespace qz::publish
