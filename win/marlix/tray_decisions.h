// What the notification-area program decides, apart from the windows it
// decides for, so that the rules can be checked without a desktop.
#pragma once

namespace marlix {

inline constexpr unsigned kTrayCallbackMessage = 0x0464;  // WM_USER + 100
inline constexpr int kEndProgramCommand = 32771;          // "종료"

enum class InstanceRole { kFirst, kLater };

// A second start finds the mutex already there (ERROR_ALREADY_EXISTS); any
// other outcome, a failed creation included, makes the first instance.
constexpr InstanceRole RoleFromMutexError(unsigned long last_error) {
  return last_error == 183 ? InstanceRole::kLater : InstanceRole::kFirst;
}

enum class TrayAction { kNone, kOpenSearch, kShowMenu };

// A left press opens the search window unless one from the icon is open; a
// right press opens the icon's menu whether or not one is; every other mouse
// message (releases, double clicks, moves, the middle button) does nothing.
constexpr TrayAction TrayActionFor(unsigned mouse_message, bool search_open) {
  constexpr unsigned kLeftButtonDown = 0x0201, kRightButtonDown = 0x0204;
  if (mouse_message == kLeftButtonDown) return search_open ? TrayAction::kNone : TrayAction::kOpenSearch;
  if (mouse_message == kRightButtonDown) return TrayAction::kShowMenu;
  return TrayAction::kNone;
}

}  // namespace marlix
