#include "base/registration_script.h"

namespace qz {
namespace {

std::string_view Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

constexpr std::string_view kMachine = "HKLM\\";
constexpr std::string_view kPolicies =
    "SOFTWARE\\Microsoft\\Internet Explorer\\Low Rights\\ElevationPolicy\\";

struct Fills {
  std::string_view classId;
  std::string_view modulePath;
  std::string_view windowsFolder;
};

std::string Filled(std::string_view text, const Fills& fills) {
  std::string out;
  while (!text.empty()) {
    if (text.compare(0, 7, "%CLSID%") == 0) {
      out += fills.classId;
      text.remove_prefix(7);
    } else if (text.compare(0, 8, "%MODULE%") == 0) {
      out += fills.modulePath;
      text.remove_prefix(8);
    } else if (text.compare(0, 9, "%WINDOWS%") == 0) {
      out += fills.windowsFolder;
      text.remove_prefix(9);
    } else {
      out += text.front();
      text.remove_prefix(1);
    }
  }
  return out;
}

// A key must name something below the root: never the root, never a bare
// "CLSID", never an empty part that would make it climb.
bool IsOwnedKey(const std::string& key) {
  if (key.empty() || key == "CLSID" || key.front() == '\\' || key.back() == '\\') return false;
  return key.find("\\\\") == std::string::npos;
}

// "HKLM\..." names a machine key, which must lie below the elevation policies.
bool TakeRoot(RegistryRow& row) {
  if (row.key.compare(0, kMachine.size(), kMachine) != 0) return true;
  row.machine = true;
  row.key.erase(0, kMachine.size());
  return row.key.size() > kPolicies.size() && row.key.compare(0, kPolicies.size(), kPolicies) == 0;
}

bool ParseNumber(std::string_view text, unsigned long& number) {
  if (text.empty() || text.size() > 10) return false;
  unsigned long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value > 0xFFFFFFFFull) return false;
  number = static_cast<unsigned long>(value);
  return true;
}

}  // namespace

std::optional<std::vector<RegistryRow>> ParseRegistrationScript(std::string_view script,
                                                                std::string_view classId,
                                                                std::string_view modulePath,
                                                                std::string_view windowsFolder) {
  const Fills fills{classId, modulePath, windowsFolder};
  std::vector<RegistryRow> rows;
  while (!script.empty()) {
    const std::size_t end = script.find('\n');
    std::string_view line = Trimmed(script.substr(0, end));
    script = end == std::string_view::npos ? std::string_view() : script.substr(end + 1);
    if (line.empty() || line.front() == ';') continue;

    const std::size_t space = line.find_first_of(" \t");
    if (space == std::string_view::npos) return std::nullopt;
    const std::string_view word = line.substr(0, space);
    const std::string_view rest = Trimmed(line.substr(space));

    RegistryRow row{};
    if (word == "tree" || word == "fresh") {
      row.kind = word == "tree" ? RegistryRow::Kind::Tree : RegistryRow::Kind::FreshTree;
      row.key = Filled(rest, fills);
    } else if (word == "value" || word == "number") {
      const std::size_t bar1 = rest.find('|');
      const std::size_t bar2 = bar1 == std::string_view::npos ? bar1 : rest.find('|', bar1 + 1);
      if (bar2 == std::string_view::npos) return std::nullopt;
      row.kind = word == "value" ? RegistryRow::Kind::Value : RegistryRow::Kind::Number;
      row.key = Filled(Trimmed(rest.substr(0, bar1)), fills);
      const std::string_view name = Trimmed(rest.substr(bar1 + 1, bar2 - bar1 - 1));
      if (name.empty()) return std::nullopt;
      row.name = name == "@" ? std::string() : std::string(name);
      row.data = Filled(Trimmed(rest.substr(bar2 + 1)), fills);
      if (row.kind == RegistryRow::Kind::Number && !ParseNumber(row.data, row.number)) return std::nullopt;
    } else {
      return std::nullopt;
    }
    if (!TakeRoot(row) || !IsOwnedKey(row.key)) return std::nullopt;
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace qz
