#include "dpi_win.h"

#include "app_win.h"
#include "wnd_win.h"

namespace marlix {

namespace {

// The user32 calls of Windows 10 (1607 and later), when there are any.
struct PerMonitorCalls {
  UINT(WINAPI* dpi_for_window)(HWND) = nullptr;
  UINT(WINAPI* dpi_for_system)() = nullptr;
  int(WINAPI* metrics_for_dpi)(int, UINT) = nullptr;
  BOOL(WINAPI* dialog_dpi_change)(HWND, int, int) = nullptr;
};

template <class F>
void Load(HMODULE module, const char* name, F& function) {
  // The types are the documented ones of these exports.
  function = reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

const PerMonitorCalls& Calls() {
  static const PerMonitorCalls calls = [] {
    PerMonitorCalls found;
    if (HMODULE user = ::GetModuleHandleW(L"user32.dll")) {
      Load(user, "GetDpiForWindow", found.dpi_for_window);
      Load(user, "GetDpiForSystem", found.dpi_for_system);
      Load(user, "GetSystemMetricsForDpi", found.metrics_for_dpi);
      Load(user, "SetDialogDpiChangeBehavior", found.dialog_dpi_change);
    }
    return found;
  }();
  return calls;
}

// What a Windows without per-monitor DPI draws at, everywhere.
UINT ScreenDpi() {
  WindowDC screen(nullptr);
  const int dpi = ::GetDeviceCaps(screen.get(), LOGPIXELSY);
  return dpi > 0 ? static_cast<UINT>(dpi) : kDesignDpi;
}

}  // namespace

UINT WindowDpi(HWND window) {
  if (Calls().dpi_for_window) {
    if (const UINT dpi = Calls().dpi_for_window(window)) return dpi;
  }
  return ScreenDpi();
}

UINT SystemDpi() {
  if (Calls().dpi_for_system) return Calls().dpi_for_system();
  return ScreenDpi();
}

// Without the call, the system's metrics are those of the one DPI there is.
int SystemMetricAtDpi(int index, UINT dpi) {
  if (Calls().metrics_for_dpi) return Calls().metrics_for_dpi(index, dpi);
  return ::GetSystemMetrics(index);
}

void TakeOverDialogDpiChange(HWND dialog) {
  constexpr int kDisableAll = 0x0001 | 0x0002 | 0x0004;  // DDC_DISABLE_ALL
  if (Calls().dialog_dpi_change) Calls().dialog_dpi_change(dialog, kDisableAll, kDisableAll);
}

UniqueFont FontAtDpi(HFONT font, UINT from, UINT to) {
  LOGFONTW face{};
  if (!font || !::GetObjectW(font, sizeof face, &face)) return UniqueFont{};
  face.lfHeight = ::MulDiv(face.lfHeight, static_cast<int>(to), static_cast<int>(from));
  face.lfWidth = ::MulDiv(face.lfWidth, static_cast<int>(to), static_cast<int>(from));
  return UniqueFont(::CreateFontIndirectW(&face));
}

int TextHeight(HWND control) {
  WindowDC dc(control);
  const auto font = reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0));
  const SelectedObject in_font(dc.get(), font ? static_cast<HGDIOBJ>(font) : ::GetStockObject(SYSTEM_FONT));
  TEXTMETRICW metrics{};
  ::GetTextMetricsW(dc.get(), &metrics);
  return static_cast<int>(metrics.tmHeight);
}

UniqueIcon IconOfSize(UINT id, int size) {
  return UniqueIcon(
      static_cast<HICON>(::LoadImageW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, 0)));
}

UniqueBitmap BitmapOfSize(UINT id, int width, int height) {
  UniqueBitmap drawn(static_cast<HBITMAP>(
      ::LoadImageW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
  BITMAP source{};
  if (!drawn || !::GetObjectW(drawn.get(), sizeof source, &source)) return UniqueBitmap{};
  if (source.bmWidth == width && source.bmHeight == height) return drawn;
  WindowDC screen(nullptr);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  UniqueBitmap scaled(::CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  const UniqueMemoryDC from(::CreateCompatibleDC(screen.get()));
  const UniqueMemoryDC to(::CreateCompatibleDC(screen.get()));
  if (!scaled || !from || !to) return drawn;
  const SelectedObject source_in(from.get(), drawn.get());
  const SelectedObject target_in(to.get(), scaled.get());
  ::SetStretchBltMode(to.get(), HALFTONE);
  ::SetBrushOrgEx(to.get(), 0, 0, nullptr);
  ::StretchBlt(to.get(), 0, 0, width, height, from.get(), 0, 0, source.bmWidth, source.bmHeight, SRCCOPY);
  return scaled;
}

}  // namespace marlix
