// The rules of the notification-area program and of the Hangul switch.
#include <gtest/gtest.h>

#include "hangul_mode.h"
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

TEST(TrayIcon, LeftPressOpensOneWindowRightPressTheMenu) {
  EXPECT_EQ(TrayActionFor(0x0201, false), TrayAction::kOpenSearch);
  EXPECT_EQ(TrayActionFor(0x0201, true), TrayAction::kNone);
  EXPECT_EQ(TrayActionFor(0x0204, false), TrayAction::kShowMenu);
  EXPECT_EQ(TrayActionFor(0x0204, true), TrayAction::kShowMenu);
  // Releases, double clicks, moves and the middle button.
  for (unsigned other : {0x0202u, 0x0203u, 0x0205u, 0x0206u, 0x0200u, 0x0207u, 0x0208u}) {
    EXPECT_EQ(TrayActionFor(other, false), TrayAction::kNone) << std::hex << other;
  }
}

TEST(SingleInstance, OnlyAnExistingMutexMakesALaterStart) {
  EXPECT_EQ(RoleFromMutexError(183), InstanceRole::kLater);
  EXPECT_EQ(RoleFromMutexError(0), InstanceRole::kFirst);
  EXPECT_EQ(RoleFromMutexError(5), InstanceRole::kFirst);  // access denied: run as the first
}

}  // namespace
}  // namespace marlix
