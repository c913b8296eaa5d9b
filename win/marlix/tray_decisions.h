// What the notification-area program decides, apart from the windows it
// decides for, so that the rules can be checked without a desktop.
#pragma once

#include "resource.h"

namespace marlix {

// The hidden frame's title, by which a later start and the settings find it.
inline constexpr char kFrameTitle[] = MARLIX_FRAME_TITLE;
inline constexpr unsigned kTrayCallbackMessage = 0x0464;  // WM_USER + 100
inline constexpr int kEndProgramCommand = ID_EXIT;        // "종료"

enum class InstanceRole { kFirst, kLater };

// A second start finds the mutex already there (ERROR_ALREADY_EXISTS); any
// other outcome, a failed creation included, makes the first instance.
constexpr InstanceRole RoleFromMutexError(unsigned long last_error) {
  return last_error == 183 ? InstanceRole::kLater : InstanceRole::kFirst;
}

enum class TrayAction {
  kNone,
  kOpenSearch,  // opens the search window
  kShowSearch,  // brings the open one to the front, ready to type
  kShowMenu,
};

// What an event of the icon does. A left press opens the search window unless
// one from the icon is open. The icon chosen (NIN_SELECT: a click; NIN_KEYSELECT:
// Win+B, the arrows and Enter or Space) opens it or brings the open one to the
// front. WM_CONTEXTMENU (a right click, Shift+F10, the menu key) opens the
// icon's menu; so does a right press where the shell speaks the old icon
// version (`version4` false), which sends no WM_CONTEXTMENU. Every other mouse
// message (releases, double clicks, moves, the middle button) does nothing.
constexpr TrayAction TrayActionFor(unsigned event, bool search_open, bool version4) {
  constexpr unsigned kLeftButtonDown = 0x0201, kRightButtonDown = 0x0204, kContextMenu = 0x007B;
  constexpr unsigned kSelect = 0x0400, kKeySelect = 0x0401;
  if (event == kLeftButtonDown) return search_open ? TrayAction::kNone : TrayAction::kOpenSearch;
  if (event == kSelect || event == kKeySelect) return search_open ? TrayAction::kShowSearch : TrayAction::kOpenSearch;
  if (event == kContextMenu || (event == kRightButtonDown && !version4)) return TrayAction::kShowMenu;
  return TrayAction::kNone;
}

}  // namespace marlix
