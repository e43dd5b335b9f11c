// The client package's part of the machine settings, made from their table
// (base/machine_settings.h): for every setting a public property, its saved
// copy read back by a repair or an upgrade, the components that write it in
// each registry view the package serves, and the way to clear it.
//
//   qzpackrows settings wxi  ARCH   the Include file the package's source takes
//   qzpackrows settings refs ARCH   its components, for the package's feature
//   qzpackrows settings rows ARCH   what the built package must hold of it, one
//                                   line per row, as check_tables.sh compares
//   qzpackrows settings table       the table itself (tab-separated), after a
//                                   line "# policy key" with the policy key
//
// ARCH is x64 (both views) or x86 (its own). What wixl has no element for
// (the components' conditions and the rows that clear a setting) is in the
// "rows" output too; make_package.sh writes it into the package from there.
//
// A property's way in, in both sequences (with and without UI):
//   Keep<Name>   (only when an administrator installs, and the property is
//                given) keeps the given value in the private Given<Name>;
//   Forget<Name> empties the property, so nothing else given survives;
//   AppSearch    reads the saved copy into it;
//   Use<Name>    puts the kept value back over the saved one.
// So a value wins over the saved one only when an administrator gave it,
// whatever the installer passes from the client side; anyone else's leaves
// the saved setting (none are secure custom properties either).
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "base/machine_settings.h"
#include "package/qzpackrows.h"

namespace {

constexpr int kKeepFirst = 26;    // after FindRelatedProducts (25)
constexpr int kForgetFirst = 34;  // before AppSearch (50)
constexpr int kUseFirst = 51;     // after AppSearch, before LaunchConditions (100)
static_assert(kForgetFirst - kKeepFirst >= static_cast<int>(std::size(qz::kMachineSettings)), "sequence overlap");
static_assert(50 - kForgetFirst >= static_cast<int>(std::size(qz::kMachineSettings)), "sequence overlap");

struct Width {
  const char* suffix;  // "64" or "32"
  const char* win64;   // "yes" or "no"
  int attributes;      // the Component table's registry-view bit (256 for 64-bit)
};

std::vector<Width> WidthsOf(const std::string& arch) {
  if (arch == "x64") return {{"64", "yes", 256}, {"32", "no", 0}};
  return {{"32", "no", 0}};
}

const char* KindName(qz::SettingKind kind) {
  switch (kind) {
    case qz::SettingKind::List: return "list";
    case qz::SettingKind::Number: return "number";
    case qz::SettingKind::Text: return "text";
  }
  return "?";
}

// The setting's value as the Registry table writes it from the property.
std::string ValueOf(const qz::MachineSetting& s) {
  const std::string property = std::string("[") + s.property + "]";
  switch (s.kind) {
    case qz::SettingKind::List: return "[~]" + property + "[~]";  // REG_MULTI_SZ
    case qz::SettingKind::Number: return "#" + property;          // REG_DWORD
    case qz::SettingKind::Text: return property;
  }
  return property;
}

std::string Given(const qz::MachineSetting& s) { return std::string("Given") + s.name; }
std::string Installs(const qz::MachineSetting& s) {
  return std::string(s.property) + " AND " + s.property + " <> \"" + qz::kClearSetting + "\"";
}
std::string Clears(const qz::MachineSetting& s) {
  return std::string(s.property) + " = \"" + qz::kClearSetting + "\"";
}
std::string NumberCondition(const qz::MachineSetting& s) {
  const std::string p = s.property;
  return "NOT " + p + " OR " + p + " = \"" + qz::kClearSetting + "\" OR (" + p + " >= " + std::to_string(s.least) +
         " AND " + p + " <= " + std::to_string(s.most) + ")";
}
std::string NumberMessage(const qz::MachineSetting& s) {
  return std::string(s.property) + " must be a whole number from " + std::to_string(s.least) + " to " +
         std::to_string(s.most) + ", or " + qz::kClearSetting + " to clear the setting.";
}

struct Action {
  std::string id;
  std::string property;
  std::string value;
  std::string condition;
  int sequence;
};

std::vector<Action> ActionsOf() {
  std::vector<Action> actions;
  int i = 0;
  for (const qz::MachineSetting& s : qz::kMachineSettings) {
    const std::string p = s.property;
    actions.push_back({std::string("Keep") + s.name, Given(s), "[" + p + "]", "AdminUser AND " + p, kKeepFirst + i});
    actions.push_back({std::string("Forget") + s.name, p, "", p, kForgetFirst + i});
    actions.push_back({std::string("Use") + s.name, p, "[" + Given(s) + "]", Given(s), kUseFirst + i});
    ++i;
  }
  return actions;
}

void PrintWxi(const std::string& arch) {
  const std::vector<Width> widths = WidthsOf(arch);
  const char* own64 = widths.front().win64;
  std::cout << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
               "<!-- Made by qzpackrows from base/machine_settings.h; do not edit. -->\n<Include>\n";
  for (const qz::MachineSetting& s : qz::kMachineSettings) {
    std::cout << "  <!-- " << s.name << ": " << Xml(s.what) << " -->\n"
              << "  <Property Id=\"" << s.property << "\">\n"
              << "    <RegistrySearch Id=\"Saved" << s.name << "\" Root=\"HKLM\" Key=\"" << qz::kPackageKey
              << "\" Name=\"" << s.property << "\" Type=\"raw\" Win64=\"" << own64 << "\"/>\n  </Property>\n";
    if (s.kind == qz::SettingKind::Number) {
      std::cout << "  <Condition Message=\"" << Xml(NumberMessage(s)) << "\">" << Xml(NumberCondition(s))
                << "</Condition>\n";
    }
  }
  const std::vector<Action> actions = ActionsOf();
  for (const Action& a : actions) {
    std::cout << "  <CustomAction Id=\"" << a.id << "\" Property=\"" << a.property << "\" Value=\"" << Xml(a.value)
              << "\"/>\n";
  }
  for (const char* sequence : {"InstallExecuteSequence", "InstallUISequence"}) {
    std::cout << "  <" << sequence << ">\n";
    for (const Action& a : actions) {
      std::cout << "    <Custom Action=\"" << a.id << "\" Sequence=\"" << a.sequence << "\">" << Xml(a.condition)
                << "</Custom>\n";
    }
    std::cout << "  </" << sequence << ">\n";
  }
  std::cout << "  <DirectoryRef Id=\"TARGETDIR\">\n";
  for (const Width& w : widths) {
    for (const qz::MachineSetting& s : qz::kMachineSettings) {
      const char* type = s.kind == qz::SettingKind::Number ? "integer" : "string";
      const std::string value = s.kind == qz::SettingKind::Number ? std::string("[") + s.property + "]" : ValueOf(s);
      std::cout << "    <Component Id=\"" << s.name << w.suffix << "\" Guid=\"*\" Win64=\"" << w.win64 << "\">\n"
                << "      <RegistryValue Root=\"HKLM\" Key=\"" << qz::kPackageKey << "\" Name=\"" << s.property
                << "\" Type=\"string\" Value=\"[" << s.property << "]\" KeyPath=\"yes\"/>\n"
                << "      <RegistryValue Root=\"HKLM\" Key=\"" << qz::kProductKey << "\" Name=\"" << s.name
                << "\" Type=\"" << type << "\" Value=\"" << Xml(value) << "\"/>\n    </Component>\n";
      // Holds only the rows that remove the setting; make_package.sh gives
      // every component its own identifier, this one a placeholder.
      std::cout << "    <Component Id=\"Clear" << s.name << w.suffix
                << "\" Guid=\"00000000-0000-0000-0000-000000000000\" Win64=\"" << w.win64 << "\"/>\n";
    }
  }
  std::cout << "  </DirectoryRef>\n</Include>\n";
}

void PrintRefs(const std::string& arch) {
  std::cout << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
               "<!-- Made by qzpackrows from base/machine_settings.h; do not edit. -->\n<Include>\n";
  for (const Width& w : WidthsOf(arch)) {
    for (const qz::MachineSetting& s : qz::kMachineSettings) {
      std::cout << "  <ComponentRef Id=\"" << s.name << w.suffix << "\"/>\n"
                << "  <ComponentRef Id=\"Clear" << s.name << w.suffix << "\"/>\n";
    }
  }
  std::cout << "</Include>\n";
}

// One line per row, fields separated by tabs, in the order the check sorts
// them: the table, then the row's cells as "msiinfo export" writes them.
void PrintRows(const std::string& arch) {
  for (const qz::MachineSetting& s : qz::kMachineSettings) {
    std::cout << "AppSearch\t" << s.property << "\tSaved" << s.name << "\n"
              << "RegLocator\tSaved" << s.name << "\t2\t" << qz::kPackageKey << "\t" << s.property << "\t"
              << (WidthsOf(arch).size() == 2 ? 18 : 2) << "\n";
    if (s.kind == qz::SettingKind::Number) {
      std::cout << "LaunchCondition\t" << NumberCondition(s) << "\t" << NumberMessage(s) << "\n";
    }
  }
  for (const Action& a : ActionsOf()) {
    std::cout << "CustomAction\t" << a.id << "\t" << a.property << "\t" << a.value << "\n";
    for (const char* sequence : {"InstallExecuteSequence", "InstallUISequence"}) {
      std::cout << sequence << "\t" << a.id << "\t" << a.condition << "\t" << a.sequence << "\n";
    }
  }
  for (const Width& w : WidthsOf(arch)) {
    for (const qz::MachineSetting& s : qz::kMachineSettings) {
      const std::string component = s.name + std::string(w.suffix);
      const std::string clear = "Clear" + component;
      std::cout << "Component\t" << component << "\t" << w.attributes + 4 << "\t" << Installs(s) << "\n"
                << "Component\t" << clear << "\t" << w.attributes << "\t" << Clears(s) << "\n"
                << "Registry\t" << component << "\t2\t" << qz::kPackageKey << "\t" << s.property << "\t["
                << s.property << "]\n"
                << "Registry\t" << component << "\t2\t" << qz::kProductKey << "\t" << s.name << "\t" << ValueOf(s)
                << "\n"
                << "RemoveRegistry\t" << clear << "\t2\t" << qz::kPackageKey << "\t" << s.property << "\n"
                << "RemoveRegistry\t" << clear << "\t2\t" << qz::kProductKey << "\t" << s.name << "\n";
    }
  }
}

void PrintTable() {
  std::cout << "# policy key\t" << qz::kPolicyKey << "\n";
  for (const qz::MachineSetting& s : qz::kMachineSettings) {
    std::cout << s.name << "\t" << KindName(s.kind) << "\t" << s.property << "\t";
    if (s.kind == qz::SettingKind::Number) std::cout << s.fallback << "\t" << s.least << "\t" << s.most;
    if (s.kind == qz::SettingKind::Text) std::cout << s.fallbackText << "\t0\t" << s.most;
    if (s.kind == qz::SettingKind::List) std::cout << "\t\t";
    std::cout << "\t" << s.what << "\n";
  }
}

}  // namespace

int SettingRowsMain(const std::vector<std::string>& args) {
  if (args.size() == 1 && args[0] == "table") {
    PrintTable();
    return 0;
  }
  if (args.size() == 2 && (args[1] == "x64" || args[1] == "x86")) {
    if (args[0] == "wxi") PrintWxi(args[1]);
    else if (args[0] == "refs") PrintRefs(args[1]);
    else if (args[0] == "rows") PrintRows(args[1]);
    else return 2;
    return 0;
  }
  return 2;
}
