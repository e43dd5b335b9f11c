// qzpackrows: the package's registry rows, made from the same registration
// tables the programs write themselves (the control's "REGISTRY" resource,
// the launcher's link protocol), so the package and self-registration can
// never differ.
//
//   qzpackrows wxi   TABLE ROOT CLSID MODULE WINDOWS
//       prints the table's values as RegistryValue elements (an Include file
//       for the package's source) on standard output;
//   qzpackrows check TABLE ROOT CLSID MODULE WINDOWS REGISTRY_IDT COMPONENT
//       compares them with the Registry table of a built package (as
//       "msiinfo export PACKAGE Registry" writes it): the component must hold
//       exactly those rows. Exit 0 when it does, 1 (with the differences) when not.
//   qzpackrows settings ...
//       the machine settings' part of the package (setting_rows.cpp).
//
// ROOT is where the table's plain keys lie ("HKCR" or "HKLM"); CLSID, MODULE
// and WINDOWS are the texts that stand for %CLSID%, %MODULE% and %WINDOWS%
// (Windows Installer references such as "[#File]" and "[%SystemRoot]").
#include <algorithm>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "base/registration_script.h"
#include "package/qzpackrows.h"

namespace {

struct PackageRow {
  int root;  // Windows Installer's numbers: 0 HKEY_CLASSES_ROOT, 2 HKEY_LOCAL_MACHINE
  std::string key;
  std::string name;
  std::string value;  // as the Registry table holds it ("#3" for a number)
  bool operator==(const PackageRow& other) const {
    return root == other.root && key == other.key && name == other.name && value == other.value;
  }
  bool operator<(const PackageRow& other) const {
    return std::tie(root, key, name, value) < std::tie(other.root, other.key, other.name, other.value);
  }
};

std::optional<std::string> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool HasBracket(const std::string& text) { return text.find_first_of("[]") != std::string::npos; }

// The values of the table; nothing when the table is damaged, or when a key
// or value of its own holds a bracket, which Windows Installer would read as
// a reference instead of writing it as it stands.
std::optional<std::vector<PackageRow>> RowsOf(const std::string& script, const std::string& plainRoot,
                                              const std::string& classId, const std::string& module,
                                              const std::string& windows) {
  const auto plain = qz::ParseRegistrationScript(script, "C", "M", "W");
  if (!plain) return std::nullopt;
  for (const qz::RegistryRow& row : *plain) {
    if (HasBracket(row.key) || HasBracket(row.name) || HasBracket(row.data)) return std::nullopt;
  }
  const auto rows = qz::ParseRegistrationScript(script, classId, module, windows);
  if (!rows) return std::nullopt;
  const int root = plainRoot == "HKLM" ? 2 : 0;
  std::vector<PackageRow> out;
  for (const qz::RegistryRow& row : *rows) {
    if (row.kind == qz::RegistryRow::Kind::Tree || row.kind == qz::RegistryRow::Kind::FreshTree) continue;
    PackageRow packaged{row.machine ? 2 : root, row.key, row.name, row.data};
    if (row.kind == qz::RegistryRow::Kind::Number) packaged.value = "#" + std::to_string(row.number);
    out.push_back(std::move(packaged));
  }
  return out;
}

void PrintInclude(const std::vector<PackageRow>& rows) {
  std::cout << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
               "<!-- Made by qzpackrows from the registration table; do not edit. -->\n<Include>\n";
  for (const PackageRow& row : rows) {
    std::cout << "  <RegistryValue Root=\"" << (row.root == 2 ? "HKLM" : "HKCR") << "\" Key=\"" << Xml(row.key)
              << '"';
    if (!row.name.empty()) std::cout << " Name=\"" << Xml(row.name) << '"';
    if (row.value.compare(0, 1, "#") == 0) {
      std::cout << " Type=\"integer\" Value=\"" << row.value.substr(1) << "\"/>\n";
    } else {
      std::cout << " Type=\"string\" Value=\"" << Xml(row.value) << "\"/>\n";
    }
  }
  std::cout << "</Include>\n";
}

std::vector<std::string> Split(const std::string& line, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = line.find(separator, start);
    parts.push_back(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

// The rows of one component in an exported Registry table: three header
// lines, then Registry, Root, Key, Name, Value, Component_ separated by tabs.
std::optional<std::vector<PackageRow>> PackagedRows(const std::string& idt, const std::string& component) {
  std::vector<PackageRow> rows;
  std::istringstream in(idt);
  std::string line;
  for (int header = 0; header < 3; ++header) {
    if (!std::getline(in, line)) return std::nullopt;
  }
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    const std::vector<std::string> cells = Split(line, '\t');
    if (cells.size() != 6) return std::nullopt;
    if (cells[5] != component) continue;
    if (cells[1] != "0" && cells[1] != "2") return std::nullopt;
    rows.push_back({cells[1] == "2" ? 2 : 0, cells[2], cells[3], cells[4]});
  }
  return rows;
}

std::string Described(const PackageRow& row) {
  return std::string(row.root == 2 ? "HKLM" : "HKCR") + "\\" + row.key + " | " + row.name + " | " + row.value;
}

int Check(std::vector<PackageRow> expected, std::vector<PackageRow> packaged, const std::string& component) {
  std::sort(expected.begin(), expected.end());
  std::sort(packaged.begin(), packaged.end());
  std::vector<PackageRow> missing;
  std::vector<PackageRow> extra;
  std::set_difference(expected.begin(), expected.end(), packaged.begin(), packaged.end(), std::back_inserter(missing));
  std::set_difference(packaged.begin(), packaged.end(), expected.begin(), expected.end(), std::back_inserter(extra));
  for (const PackageRow& row : missing) std::cout << component << ": missing " << Described(row) << "\n";
  for (const PackageRow& row : extra) std::cout << component << ": not in the table " << Described(row) << "\n";
  if (expected.empty()) std::cout << component << ": the table has no values\n";
  if (!missing.empty() || !extra.empty() || expected.empty()) return 1;
  std::cout << component << ": " << expected.size() << " rows as in the table\n";
  return 0;
}

}  // namespace

std::string Xml(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args[0] == "settings") {
    if (SettingRowsMain({args.begin() + 1, args.end()}) == 0) return 0;
    std::cerr << "usage: qzpackrows settings wxi|refs|rows x64|x86\n       qzpackrows settings table\n";
    return 2;
  }
  const bool wxi = args.size() == 6 && args[0] == "wxi";
  const bool check = args.size() == 8 && args[0] == "check";
  if (!wxi && !check) {
    std::cerr << "usage: qzpackrows wxi TABLE ROOT CLSID MODULE WINDOWS\n"
                 "       qzpackrows check TABLE ROOT CLSID MODULE WINDOWS REGISTRY_IDT COMPONENT\n"
                 "       qzpackrows settings ...\n";
    return 2;
  }
  const auto script = ReadFile(args[1]);
  if (!script) {
    std::cerr << "qzpackrows: cannot read " << args[1] << "\n";
    return 2;
  }
  if (args[2] != "HKCR" && args[2] != "HKLM") {
    std::cerr << "qzpackrows: the root is HKCR or HKLM, not " << args[2] << "\n";
    return 2;
  }
  const auto rows = RowsOf(*script, args[2], args[3], args[4], args[5]);
  if (!rows) {
    std::cerr << "qzpackrows: " << args[1] << " is not a registration table the package can hold\n";
    return 2;
  }
  if (wxi) {
    PrintInclude(*rows);
    return 0;
  }
  const auto idt = ReadFile(args[6]);
  const auto packaged = idt ? PackagedRows(*idt, args[7]) : std::nullopt;
  if (!packaged) {
    std::cerr << "qzpackrows: " << args[6] << " is not an exported Registry table\n";
    return 2;
  }
  return Check(*rows, *packaged, args[7]);
}
