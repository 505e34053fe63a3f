// Window class and per-window storage of the hyperlink control. Kept apart so
// the control's state can be read back by tests.
#pragma once

#include <windows.h>

namespace mivo::hyperlink {

constexpr char kClassName[] = "MIVO_UiHypCtrl";

// Font styles of MIVO_HypCtrlInfo::fontStyle.
constexpr UINT32 kStyleHoverUnderlined = 0;  // plain, underlined under the mouse
constexpr UINT32 kStyleParentFont = 1;       // the parent's font in both states
constexpr UINT32 kStyleUnderlined = 2;       // underlined in both states

// Window extra bytes: the control's record, the hover flag (16-bit), the text
// rectangle (four 32-bit values), the normal and hover fonts, the tooltip.
constexpr int kRecordOffset = 0;
constexpr int kHoverOffset = kRecordOffset + static_cast<int>(sizeof(LONG_PTR));
constexpr int kRectOffset = kHoverOffset + static_cast<int>(sizeof(WORD));
constexpr int kNormalFontOffset = kRectOffset + 4 * static_cast<int>(sizeof(LONG));
constexpr int kHoverFontOffset = kNormalFontOffset + static_cast<int>(sizeof(LONG_PTR));
constexpr int kTooltipOffset = kHoverFontOffset + static_cast<int>(sizeof(LONG_PTR));
constexpr int kExtraBytes = kTooltipOffset + static_cast<int>(sizeof(LONG_PTR));

}  // namespace mivo::hyperlink
