// State shared by everything the module serves: its lock count (live objects,
// server locks, outside holds on the class object) and the cached type
// information behind IDispatch.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace qz::control {

void LockModule();
void UnlockModule();
HMODULE ThisModule();

// ITessacontrol1's type information from the registered type library, loaded
// at first use and kept until the module is unloaded. Fails with the type
// library error when the library is not registered.
HRESULT InterfaceTypeInfo(LCID lcid, ITypeInfo** out);

}  // namespace qz::control
