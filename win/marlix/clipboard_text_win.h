// A text put on the clipboard the way every copy of Marlix puts it: as CP949
// bytes (what programs of a Korean code page read), as UTF-16 and marked
// Korean, so that a program on any system pastes it right.
#pragma once

#include <windows.h>

#include <string_view>

#include "cp949_bytes.h"

// False when another program holds the clipboard: nothing was put there.
bool PutTextOnClipboard(HWND owner, const marlix::Cp949View& cp949, std::wstring_view wide);
