// Registrations as data: a program's "REGISTRY" resource lists the registry
// entries it owns in the order they are written, and which trees are ours to
// remove: the control's class below HKEY_CLASSES_ROOT and the browsers'
// elevation policy for the launcher, the launcher's link protocol below
// HKEY_LOCAL_MACHINE. Registration and unregistration both walk the same
// rows, and an installer package can be made from the same table.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qz {

struct RegistryRow {
  enum class Kind {
    Tree,       // a key ours with everything below it: removed on unregistration
    FreshTree,  // as Tree, and also removed just before registration writes it
    Value,      // a REG_SZ value; an empty name is the key's default value
    Number,     // a REG_DWORD value
  };
  Kind kind;
  bool machine = false;  // HKEY_LOCAL_MACHINE (in the module's own registry view), else HKEY_CLASSES_ROOT
  std::string key;
  std::string name;
  std::string data;
  unsigned long number = 0;  // Number only
};

// Script lines (blank lines and lines starting with ";" are skipped):
//   tree   KEY
//   fresh  KEY
//   value  KEY | NAME | DATA      NAME "@" is the default value
//   number KEY | NAME | DECIMAL
// "%CLSID%", "%MODULE%" (the registered program's path) and "%WINDOWS%" in
// keys and data become the given texts. A KEY that starts with "HKLM\" is a
// machine key. Nothing is returned for a malformed line, so a damaged
// resource registers nothing.
std::optional<std::vector<RegistryRow>> ParseRegistrationScript(std::string_view script,
                                                                std::string_view classId,
                                                                std::string_view modulePath,
                                                                std::string_view windowsFolder = {});

}  // namespace qz
