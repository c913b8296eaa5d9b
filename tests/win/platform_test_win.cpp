// What the Windows programs take for granted of the system they run on.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

TEST(Platform, AnsiCodePageIsKorean) { EXPECT_EQ(GetACP(), 949u); }

TEST(Platform, KoreanLiteralsRoundTripThroughTheAnsiCodePage) {
  const char narrow[] = "우편번호검색";  // CP949 bytes in the program
  ASSERT_EQ(sizeof narrow - 1, 12u) << "narrow literals must be CP949, two bytes a syllable";
  wchar_t wide[32] = {};
  const int n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, narrow, -1, wide, 32);
  ASSERT_GT(n, 0);
  EXPECT_EQ(std::wstring(wide), std::wstring(L"우편번호검색"));
  char back[32] = {};
  ASSERT_GT(WideCharToMultiByte(CP_ACP, 0, wide, -1, back, sizeof back, nullptr, nullptr), 0);
  EXPECT_STREQ(back, narrow);
}
