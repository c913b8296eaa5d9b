// The rules of the notification-area program and of the Hangul switch.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <tuple>

#include "hangul_mode.h"
#include "hot_key.h"
#include "tray_decisions.h"

namespace marlix {
namespace {

TEST(HangulSwitch, TurnsOnlyPlainAlphanumericInputToHangul) {
  EXPECT_EQ(HangulModeOnFocus(true, 0), kConversionNative);
  EXPECT_EQ(HangulModeOnFocus(true, 1), std::nullopt);      // Hangul already on
  EXPECT_EQ(HangulModeOnFocus(true, 8), std::nullopt);      // full-shape alphanumeric
  EXPECT_EQ(HangulModeOnFocus(true, 1 | 8), std::nullopt);  // full-shape Hangul
  EXPECT_EQ(HangulModeOnFocus(false, 0), std::nullopt);     // no input method
}

TEST(TrayIcon, LeftPressOpensOneWindowTheChosenIconOpensOrShowsItTheContextMenuTheMenu) {
  for (const bool version4 : {false, true}) {
    EXPECT_EQ(TrayActionFor(0x0201, false, version4), TrayAction::kOpenSearch);
    EXPECT_EQ(TrayActionFor(0x0201, true, version4), TrayAction::kNone);
    for (unsigned chosen : {0x0400u, 0x0401u}) {  // NIN_SELECT, NIN_KEYSELECT
      EXPECT_EQ(TrayActionFor(chosen, false, version4), TrayAction::kOpenSearch);
      EXPECT_EQ(TrayActionFor(chosen, true, version4), TrayAction::kShowSearch);
    }
    EXPECT_EQ(TrayActionFor(0x007B, true, version4), TrayAction::kShowMenu);  // WM_CONTEXTMENU
    // Releases, double clicks, moves and the middle button.
    for (unsigned other : {0x0202u, 0x0203u, 0x0205u, 0x0206u, 0x0200u, 0x0207u, 0x0208u}) {
      EXPECT_EQ(TrayActionFor(other, false, version4), TrayAction::kNone) << std::hex << other;
    }
  }
  // A right press opens the menu only where no WM_CONTEXTMENU follows it.
  EXPECT_EQ(TrayActionFor(0x0204, false, false), TrayAction::kShowMenu);
  EXPECT_EQ(TrayActionFor(0x0204, true, false), TrayAction::kShowMenu);
  EXPECT_EQ(TrayActionFor(0x0204, false, true), TrayAction::kNone);
}

TEST(OpenKey, IsCtrlAltZUnlessChangedAndNeedsCtrlOrAlt) {
  EXPECT_EQ(HotKeySetting(std::nullopt), kDefaultHotKey);
  EXPECT_EQ(HotKeySetting(0u), kHotKeyOff);
  const std::tuple<std::uint32_t, std::optional<HotKeyChord>, const char*> cases[] = {
      {kDefaultHotKey, HotKeyChord{kModControl | kModAlt, 'Z'}, "Ctrl+Alt+Z"},
      {0x78 | (kHotKeyControl | kHotKeyShift) << 8, HotKeyChord{kModControl | kModShift, 0x78}, "Ctrl+Shift+F9"},
      {'7' | kHotKeyAlt << 8, HotKeyChord{kModAlt, '7'}, "Alt+7"},
      {0xBA | kHotKeyAlt << 8, HotKeyChord{kModAlt, 0xBA}, "Alt+0xBA"},
      // Off, a bare letter, a capital, no key.
      {kHotKeyOff, std::nullopt, ""},
      {'Z', std::nullopt, "Z"},
      {'Z' | kHotKeyShift << 8, std::nullopt, "Shift+Z"},
  };
  for (const auto& [setting, chord, name] : cases) {
    EXPECT_EQ(ChordFor(setting), chord) << name;
    if (setting != kHotKeyOff) {
      EXPECT_EQ(HotKeyName(setting), name);
    }
  }
}

TEST(SingleInstance, OnlyAnExistingMutexMakesALaterStart) {
  EXPECT_EQ(RoleFromMutexError(183), InstanceRole::kLater);
  EXPECT_EQ(RoleFromMutexError(0), InstanceRole::kFirst);
  EXPECT_EQ(RoleFromMutexError(5), InstanceRole::kFirst);  // access denied: run as the first
}

}  // namespace
}  // namespace marlix
