// Registrations as data: a program's "REGISTRY" resource lists the registry
// entries it owns in the order they are written, and which trees are ours to
// remove: the control's class below HKEY_CLASSES_ROOT, the launcher's link
// protocol below HKEY_LOCAL_MACHINE. Registration and unregistration both walk
// the same rows, and an installer package can be made from the same table.
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
  };
  Kind kind;
  std::string key;
  std::string name;
  std::string data;
};

// Script lines (blank lines and lines starting with ";" are skipped):
//   tree  KEY
//   fresh KEY
//   value KEY | NAME | DATA      NAME "@" is the default value
// "%CLSID%" and "%MODULE%" (the registered program's path) in keys and data
// become the given texts. Nothing is returned for a malformed line, so a
// damaged resource registers nothing.
std::optional<std::vector<RegistryRow>> ParseRegistrationScript(std::string_view script,
                                                                std::string_view classId,
                                                                std::string_view modulePath);

}  // namespace qz
