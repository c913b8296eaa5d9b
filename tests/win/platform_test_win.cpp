// What the Windows programs take for granted of the system they run on.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>

TEST(Platform, AnsiCodePageIsKorean) { EXPECT_EQ(GetACP(), 949u); }

// The programs' texts are UTF-8 and the data's bytes CP949; both reach the
// windows through a code page named, whatever the system's.
TEST(Platform, KoreanRoundTripsThroughUtf8AndCodePage949) {
  const char utf8[] = "우편번호검색";
  ASSERT_EQ(sizeof utf8 - 1, 18u) << "narrow literals must be UTF-8, three bytes a syllable";
  const char cp949[] = "\xBF\xEC\xC6\xED\xB9\xF8\xC8\xA3\xB0\xCB\xBB\xF6";
  for (const auto& [code_page, narrow] : {std::pair<UINT, const char*>{CP_UTF8, utf8}, {949, cp949}}) {
    wchar_t wide[32] = {};
    const int n = MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, narrow, -1, wide, 32);
    ASSERT_GT(n, 0) << code_page;
    EXPECT_EQ(std::wstring(wide), std::wstring(L"우편번호검색")) << code_page;
    char back[32] = {};
    ASSERT_GT(WideCharToMultiByte(code_page, 0, wide, -1, back, sizeof back, nullptr, nullptr), 0) << code_page;
    EXPECT_STREQ(back, narrow) << code_page;
  }
}
