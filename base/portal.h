// The portal's address: written as the browser's start page when the player
// asks for it, and the origin the control trusts without further setting.
#pragma once

namespace qz {

inline constexpr char kPortalAddress[] = "https://portal.velto.example/";

}  // namespace qz
