#include "record/launch_block.h"

namespace qz {

#define QZ_FIELD(f) {#f, offsetof(LaunchBlock, f), sizeof(LaunchBlock::f)}
const LaunchBlockField kLaunchBlockFields[11] = {
    QZ_FIELD(RunMode),     QZ_FIELD(ProgName),    QZ_FIELD(AuthCookie), QZ_FIELD(DataCookie),
    QZ_FIELD(AvatarCookie), QZ_FIELD(ServIP),     QZ_FIELD(ServPort),   QZ_FIELD(FullDownURL),
    QZ_FIELD(AutoDownURL), QZ_FIELD(CommonURL),   QZ_FIELD(Spare),
};
#undef QZ_FIELD

}  // namespace qz
