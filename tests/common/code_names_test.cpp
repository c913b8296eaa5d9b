// post.csv's reader over a hand-written post.csv of the extended form. Narrow
// literals are CP949 in this build, as post.csv is.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <cstdint>
#include <string>
#include <vector>

#include "code_names.h"
#include "cp949_literal.h"
#include "copy_cut.h"

namespace marlix {
namespace {

using testing::operator""_cp949;

const std::string kHeader = "우편번호,시도,시군구,도로명 수,건물 수,시도 영문,시군구 영문,행정동,읍면,도로명\r\n"_cp949;
// In code order: a plain code, an underground one, a broken row, a 읍면, a
// two-word 시군구 with a road of unknown English, 세종, a code that spans two
// districts (its line in 중구 finds 중구's names in the next row), a quoted field.
const std::string kRows =
    "06315,서울특별시,강남구,2,45,Seoul,Gangnam-gu,개포2동;개포4동,,개포로=Gaepo-ro;논현로8길=Nonhyeon-ro 8-gil\r\n"_cp949
    "06611,서울특별시,서초구,1,3,Seoul,Seocho-gu,서초2동,,강남대로=Gangnam-daero\r\n"_cp949
    "2000,broken\r\n"
    "25627,강원특별자치도,강릉시,1,4,Gangwon-do,Gangneung-si,,강동면=Gangdong-myeon,돌평길=Dolpyeong-gil\r\n"_cp949
    "28101,충청북도,청주시 상당구,2,5,Chungcheongbuk-do,Cheongju-si Sangdang-gu,,,명암로117번길=;중앙로10번길=Jungang-ro 10beon-gil\r\n"_cp949
    "30065,세종특별자치시,,1,10,Sejong-si,,가람동,,라온로=Raon-ro\r\n"_cp949
    "34000,대전광역시,동구,2,7,Daejeon,Dong-gu,,,대전로=Daejeon-ro;중앙로=Jungang-ro\r\n"_cp949
    "34001,대전광역시,중구,1,1,Daejeon,Jung-gu,\"은행,선화동\",,중앙로=Jungang-ro\r\n"_cp949;
constexpr char kSorted[] = "postcode.txt,417318857,6202593\r\n";

// A folder of its own holding a post.csv, gone with the object.
struct CsvFolder {
  explicit CsvFolder(const std::string& csv)
      : path(std::filesystem::temp_directory_path() /
             ("marlix-names-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)))) {
    std::filesystem::create_directories(path);
    std::ofstream(path / "post.csv", std::ios::binary) << csv;
  }
  ~CsvFolder() { std::filesystem::remove_all(path); }
  std::string data() const { return (path / "postcode.txt").string(); }
  std::filesystem::path path;
};

const CodeNames& Names() {
  static const CodeNames names(std::string(kHeader) + kRows + kSorted);
  return names;
}

// The same names every way: the bytes in memory, read from the file beside the
// data, and that file read whole and indexed for many questions.
std::vector<const CodeNames*> BothWays() {
  static const CsvFolder folder(std::string(kHeader) + kRows + kSorted);
  static const CodeNames beside = CodeNames::Beside(folder.data());
  static const CodeNames many = beside.ForManyQuestions();
  return {&Names(), &beside, &many};
}

TEST(CodeNames, FindsEnglishNamesAsRunsOfWords) {
  using Runs = std::vector<std::tuple<std::size_t, std::size_t, std::vector<std::string>>>;
  const std::pair<std::vector<std::string_view>, Runs> cases[] = {
      {{"nonhyeonro", "8gil"}, {{0, 2, {"논현로8길"_cp949}}}},
      {{"Nonhyeon-ro", "8-gil", "67"}, {{0, 2, {"논현로8길"_cp949}}}},
      {{"67", "NONHYEON-RO", "8-GIL"}, {{1, 2, {"논현로8길"_cp949}}}},
      {{"Nonhyeon", "ro8", "gil"}, {{0, 3, {"논현로8길"_cp949}}}},
      {{"Nonhyeon-ro"}, {}},
      {{"gangnam-gu,", "seoul"}, {{0, 1, {"강남구"_cp949}}, {1, 1, {"서울특별시"_cp949}}}},
      {{"Gangnam-daero", "Seoul"}, {{0, 1, {"강남대로"_cp949}}, {1, 1, {"서울특별시"_cp949}}}},
      {{"gangnam"}, {}},
      {{"Cheongju-si", "Sangdang-gu"}, {{0, 2, {"청주시 상당구"_cp949}}}},
      {{"Sangdang-gu", "Cheongju-si"}, {{0, 1, {"상당구"_cp949}}, {1, 1, {"청주시"_cp949}}}},
      {{"jungang-ro"}, {{0, 1, {"중앙로"_cp949}}}},
      {{"Jungang-ro", "10beon-gil"}, {{0, 2, {"중앙로10번길"_cp949}}}},
      {{"Gangdong-myeon", "Gangneung-si"}, {{0, 1, {"강동면"_cp949}}, {1, 1, {"강릉시"_cp949}}}},
      {{"Sejong-si", "Raon-ro", "7"}, {{0, 1, {"세종특별자치시"_cp949}}, {1, 1, {"라온로"_cp949}}}},
      {{"Jung-gu", "Dong-gu", "x", "-"}, {{0, 1, {"중구"_cp949}}, {1, 1, {"동구"_cp949}}}},
      {{"Myeongam-ro"}, {}},
      {{}, {}},
  };
  for (const CodeNames* names : BothWays()) {
    for (const auto& [words, want] : cases) {
      Runs got;
      for (const CodeNames::EnglishMatch& m : names->FindEnglishNames(words))
        got.emplace_back(m.first, m.count, m.korean);
      EXPECT_EQ(got, want) << (words.empty() ? "" : words[0]);
    }
  }
}

TEST(CodeNames, FindsCodesOfAdminDong) {
  const std::pair<std::string_view, std::vector<std::uint32_t>> cases[] = {
      {"개포2동"_cp949, {6315}}, {"개포4동"_cp949, {6315}},      {"서초2동"_cp949, {6611}},
      {"가람동"_cp949, {30065}}, {"은행,선화동"_cp949, {34001}}, {"개포"_cp949, {}},
      {"강동면"_cp949, {}},      {"강남구"_cp949, {}},           {"", {}},
  };
  for (const CodeNames* names : BothWays()) {
    for (const auto& [name, codes] : cases) EXPECT_EQ(names->CodesOfAdminDong(name), codes) << name;
  }
}

TEST(CodeNames, WritesEnglishAddresses) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"06315 서울특별시 강남구 논현로8길 67 (개포동, Artespace) 개포동 1183-10"_cp949,
       "67, Nonhyeon-ro 8-gil, Gangnam-gu, Seoul 06315"},
      {"06611 서울특별시 서초구 강남대로 지하 396 (서초동)"_cp949, "Jiha 396, Gangnam-daero, Seocho-gu, Seoul 06611"},
      {"25627 강원특별자치도 강릉시 강동면 돌평길 58-16 강동면 모전리 735"_cp949,
       "58-16, Dolpyeong-gil, Gangdong-myeon, Gangneung-si, Gangwon-do 25627"},
      {"28101 충청북도 청주시 상당구 중앙로10번길 3"_cp949,
       "3, Jungang-ro 10beon-gil, Sangdang-gu, Cheongju-si, Chungcheongbuk-do 28101"},
      {"30065 세종특별자치시 라온로 7 (가람동)"_cp949, "7, Raon-ro, Sejong-si 30065"},
      {"34000 대전광역시 중구 중앙로 5"_cp949, "5, Jungang-ro, Jung-gu, Daejeon 34000"},
      {"34000 대전광역시 동구 대전로 지하 1-2"_cp949, "Jiha 1-2, Daejeon-ro, Dong-gu, Daejeon 34000"},
      {"28101 충청북도 청주시 상당구 명암로117번길 5"_cp949, ""},  // its English is unknown
      {"34000 대전광역시 서구 중앙로 5"_cp949, ""},                // no row has that district
      {"06315 서울특별시 강남구 테헤란로 1"_cp949, ""},            // not a road of the code
      {"99999 서울특별시 강남구 논현로8길 67"_cp949, ""},
      {"06315 서울특별시 강남구 논현로8길"_cp949, ""},
      {"135-080 서울 강남구 역삼동"_cp949, ""},
      {"", ""},
  };
  for (const auto& [line, english] : cases) {
    EXPECT_EQ(BothWays()[1]->EnglishAddress(line), english) << line;
    // The English mode copies the whole line where no English address is known.
    EXPECT_EQ(TextForCopy(Cp949View(line), kCopyEnglish, Names()).bytes(), english.empty() ? line : english) << line;
  }
}

TEST(CodeNames, OlderOrDamagedPostCsvGivesNothingItCannotBack) {
  const std::string old =
      "우편번호,시도,시군구,도로명 수,건물 수\r\n06315,서울특별시,강남구,2,45\r\n"_cp949 + std::string(kSorted);
  const struct {
    std::string csv;
    bool names;
    std::uint64_t sorted;
    bool all_five_digit = false;
  } cases[] = {
      {std::string(kHeader) + kRows + kSorted, true, 417318857},
      {std::string(kHeader) + kRows + kSorted + "\r\n", true, 417318857},
      {std::string(kHeader) + kRows, true, 0},
      {std::string(kHeader) + kRows + "postcode.txt,12a,3\r\n", true, 0},
      {std::string(kHeader) + kRows + "postcode.txt,100\r\n", true, 0},
      {std::string(kHeader) + kSorted, true, 417318857},
      // The number of five-digit lines after the lines: all of them, or fewer.
      {std::string(kHeader) + kRows + "postcode.txt,417318857,6202593,6202593\r\n", true, 417318857, true},
      {std::string(kHeader) + kRows + "postcode.txt,417318857,6202593,6202592\r\n", true, 417318857},
      {std::string(kHeader) + kRows + "postcode.txt,417318857,6202593,x\r\n", true, 0},
      {old, false, 0},
      {"", false, 0},
      {"\r\n\r\n", false, 0},
  };
  for (const auto& c : cases) {
    const CodeNames names(c.csv);
    EXPECT_EQ(names.has_names(), c.names) << c.csv;
    EXPECT_EQ(names.sorted_data_bytes(), c.sorted) << c.csv;
    EXPECT_EQ(names.TrustsOrderOf(417318857), c.sorted != 0);
    EXPECT_FALSE(names.TrustsOrderOf(417318858));
    EXPECT_FALSE(names.TrustsOrderOf(0));
    EXPECT_EQ(names.TrustsAllFiveDigit(417318857), c.all_five_digit);
    EXPECT_FALSE(names.TrustsAllFiveDigit(417318858));
    const bool rows = c.names && c.csv.find("06315") != std::string::npos;
    EXPECT_EQ(names.EnglishAddress("06315 서울특별시 강남구 개포로 1"_cp949).empty(), !rows);
    EXPECT_EQ(names.FindEnglishNames({"Seoul"}).size(), rows ? 1u : 0u);
    EXPECT_EQ(names.CodesOfAdminDong("개포2동"_cp949).size(), rows ? 1u : 0u);
  }
}

TEST(CodeNames, ReadsThePostCsvBesideTheDataFile) {
  EXPECT_EQ(BothWays()[1]->sorted_data_bytes(), 417318857u);
  EXPECT_FALSE(CodeNames::Beside("/nonexistent/marlix/postcode.txt").has_names());
  // Rows past the reader's buffer: every one is seen whole, wherever a block ends.
  std::string csv = kHeader;
  std::vector<std::uint32_t> all;
  for (std::uint32_t code = 10000; code < 13000; ++code) {
    csv += std::to_string(code) + ",서울특별시,강남구,1,1,Seoul,Gangnam-gu,역삼1동,,테헤란로"_cp949 +
           std::to_string(code) + "길=Teheran-ro "_cp949 + std::to_string(code) + "-gil\r\n";
    all.push_back(code);
  }
  const CsvFolder folder(csv);
  const CodeNames names = CodeNames::Beside(folder.data());
  EXPECT_EQ(names.CodesOfAdminDong("역삼1동"_cp949), all);
  EXPECT_EQ(names.FindEnglishNames({"teheran-ro", "12999-gil"}).size(), 1u);
  EXPECT_EQ(names.EnglishAddress("12999 서울특별시 강남구 테헤란로12999길 1"_cp949),
            "1, Teheran-ro 12999-gil, Gangnam-gu, Seoul 12999");
}

}  // namespace
}  // namespace marlix
