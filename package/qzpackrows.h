// What qzpackrows' two sources share: the registration tables' rows
// (registry_rows.cpp, which holds main) and the machine settings' rows
// (setting_rows.cpp).
#pragma once

#include <string>
#include <vector>

// Text as an XML attribute or element holds it.
std::string Xml(const std::string& text);

// "qzpackrows settings ARGS...": 0 when done, 2 for arguments it does not take.
int SettingRowsMain(const std::vector<std::string>& args);
