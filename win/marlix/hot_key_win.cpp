#include "hot_key_win.h"

#include <commctrl.h>

#include "hot_key.h"
#include "text_format.h"
#include "text_win.h"
#include "tray_decisions.h"

using namespace marlix;

namespace {
constexpr wchar_t kSettingsKey[] = L"Software\\Marlix";
constexpr wchar_t kOpenKeyValue[] = L"HotKey";
constexpr char kTextKeyTakenFormat[] =
    "단축키 %s는 다른 프로그램이 쓰고 있어 검색 창을 열 수 없습니다. 옵션 메뉴의 \"단축키...\"에서 다른 키를 고르세요.";
constexpr char kTextNeedsCtrlOrAlt[] = "Ctrl이나 Alt와 함께 누르는 키를 고르세요.";
}  // namespace

std::uint32_t LoadOpenKeySetting() {
  DWORD value = 0;
  DWORD size = sizeof value;
  const bool stored = ::RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, kOpenKeyValue, RRF_RT_REG_DWORD, nullptr, &value,
                                     &size) == ERROR_SUCCESS;
  return HotKeySetting(stored ? std::optional<std::uint32_t>(value) : std::nullopt);
}

bool StoreOpenKeySetting(std::uint32_t setting) {
  const DWORD value = setting;
  return ::RegSetKeyValueW(HKEY_CURRENT_USER, kSettingsKey, kOpenKeyValue, REG_DWORD, &value, sizeof value) ==
         ERROR_SUCCESS;
}

bool RegisterOpenKey(HWND frame) {
  ::UnregisterHotKey(frame, kOpenKeyId);
  const std::optional<HotKeyChord> chord = ChordFor(LoadOpenKeySetting());
  // Held down, the key opens the window once.
  return !chord || ::RegisterHotKey(frame, kOpenKeyId, chord->modifiers | MOD_NOREPEAT, chord->key) != FALSE;
}

std::string OpenKeyTakenText(std::uint32_t setting) { return FormatText(kTextKeyTakenFormat, HotKeyName(setting)); }

BOOL CHotKeyDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  HWND control = ::GetDlgItem(m_hWnd, IDC_HOT_KEY);
  // A key alone or with Shift alone would be taken from every program's typing: Ctrl+Alt is put to it.
  ::SendMessageW(control, HKM_SETRULES, HKCOMB_NONE | HKCOMB_S, HOTKEYF_CONTROL | HOTKEYF_ALT);
  ::SendMessageW(control, HKM_SETHOTKEY, LoadOpenKeySetting() & 0xFFFF, 0);
  return TRUE;
}

// The key is kept and registered at once by the running program; one that
// another program holds is told here and the earlier one stays.
void CHotKeyDlg::OnOK() {
  const auto chosen = static_cast<std::uint32_t>(::SendDlgItemMessageW(m_hWnd, IDC_HOT_KEY, HKM_GETHOTKEY, 0, 0));
  if (chosen != kHotKeyOff && !ChordFor(chosen)) {
    AfxMessageBox(m_hWnd, kTextNeedsCtrlOrAlt, MB_OK | MB_ICONWARNING);
    return;
  }
  const std::uint32_t earlier = LoadOpenKeySetting();
  StoreOpenKeySetting(chosen);
  HWND frame = ::FindWindowW(nullptr, WideFromUtf8(kFrameTitle).c_str());
  DWORD_PTR registered = 1;
  if (frame && !::SendMessageTimeoutW(frame, kOpenKeyChanged, 0, 0, SMTO_NORMAL, 5000, &registered)) registered = 1;
  if (registered == 0) {
    StoreOpenKeySetting(earlier);
    ::SendMessageTimeoutW(frame, kOpenKeyChanged, 0, 0, SMTO_NORMAL, 5000, &registered);
    AfxMessageBox(m_hWnd, OpenKeyTakenText(chosen), MB_OK | MB_ICONWARNING);
    return;
  }
  EndDialog(IDOK);
}
