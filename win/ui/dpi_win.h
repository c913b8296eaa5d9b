// The DPI a window draws at and the sizes that follow it. The per-monitor
// calls of Windows 10 are looked up at run time, so that the programs still
// start on a Windows without them; there every window has the system's DPI.
#pragma once

#include <windows.h>

#include "handle_win.h"

namespace marlix {

// The DPI the programs' pixel measures are given for (100%).
inline constexpr UINT kDesignDpi = 96;

UINT WindowDpi(HWND window);
// The DPI of the primary monitor, the notification area's.
UINT SystemDpi();
inline int ScaleToDpi(int pixels, UINT dpi) { return ::MulDiv(pixels, static_cast<int>(dpi), kDesignDpi); }
int SystemMetricAtDpi(int index, UINT dpi);

// The dialog manager's own answer to a DPI change (it scales a template's
// controls and fonts) is turned off: the window lays itself out.
void TakeOverDialogDpiChange(HWND dialog);

// `font` (made for `from` DPI) again for text at `to` DPI.
UniqueFont FontAtDpi(HFONT font, UINT from, UINT to);
// The height of a line of text in the control's font.
int TextHeight(HWND control);

// An icon of the program's resources drawn for this size, the nearest image
// of the icon scaled by the system only where it has none of the size.
UniqueIcon IconOfSize(UINT id, int size);
// A bitmap of the program's resources at `width` x `height`: as drawn when it
// has that size, otherwise scaled with halftoning.
UniqueBitmap BitmapOfSize(UINT id, int width, int height);

}  // namespace marlix
