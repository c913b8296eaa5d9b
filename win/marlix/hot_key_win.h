// The global key that opens the search window: its setting in
// HKCU\Software\Marlix (value "HotKey", the hot-key control's word; 0 off),
// its registration on the notification-area frame, and the dialog of the
// search window's 옵션 menu that changes it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "resource.h"
#include "wnd_win.h"

// The setting as stored, or the default.
std::uint32_t LoadOpenKeySetting();
bool StoreOpenKeySetting(std::uint32_t setting);

// Registers the setting's key for `frame` in place of any earlier one; true
// when it is off or registered, false when another program holds it.
bool RegisterOpenKey(HWND frame);
inline constexpr int kOpenKeyId = 1;
// Sent to the running frame when the setting has changed: it registers the
// key again and answers 1 when it could, 0 when another program holds it.
inline constexpr UINT kOpenKeyChanged = WM_APP + 20;

// The message that a key another program holds cannot open the window.
std::string OpenKeyTakenText(std::uint32_t setting);

class CHotKeyDlg : public CDialog {
 public:
  explicit CHotKeyDlg(CWnd* parent) : CDialog(IDD_HOT_KEY, parent) {}

 protected:
  BOOL OnInitDialog() override;
  void OnOK() override;
};
