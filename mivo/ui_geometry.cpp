#include "ui_geometry.h"

namespace mivo {

Box AnchoredBox(const Box& first, unsigned flags, int dx, int dy) {
    const int moveX = (flags & kAnchorMoveX) ? dx : 0;
    const int moveY = (flags & kAnchorMoveY) ? dy : 0;
    const int growX = (flags & kAnchorGrowX) ? dx : 0;
    const int growY = (flags & kAnchorGrowY) ? dy : 0;
    return Box{first.left + moveX, first.top + moveY, first.right + moveX + growX,
               first.bottom + moveY + growY};
}

int CentredStart(int referenceStart, int referenceSize, int size) {
    return referenceStart + (referenceSize / 2 - size / 2);
}

}  // namespace mivo
