// Rectangle arithmetic of the resizer and the centring helper, free of Win32 so
// it can be tested natively.
#pragma once

namespace mivo {

// Edges of a rectangle in a window's client coordinates.
struct Box {
    int left;
    int top;
    int right;
    int bottom;
};

// Anchor flags of one resized control (the values of the public header).
constexpr unsigned kAnchorMoveX = 0x1;  // left and right edges follow the width change
constexpr unsigned kAnchorMoveY = 0x2;  // top and bottom edges follow the height change
constexpr unsigned kAnchorGrowX = 0x4;  // right edge follows the width change
constexpr unsigned kAnchorGrowY = 0x8;  // bottom edge follows the height change

// Where a control goes when the client area is dx wider and dy higher than it
// was at first. Flags add up per edge: move and grow together shift the right
// edge by twice the change.
Box AnchoredBox(const Box& first, unsigned flags, int dx, int dy);

// Left (or top) edge that centres an extent of `size` over one of `referenceSize`
// starting at `referenceStart`; halves round toward zero.
int CentredStart(int referenceStart, int referenceSize, int size);

}  // namespace mivo
