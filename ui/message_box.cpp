#include "ui/message_box.h"

namespace qz {

int ShowMessage(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
  return MessageBoxW(owner, text, caption, type);
}

}  // namespace qz
