// marlix-search as a user runs it: arguments, conversion, exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cp949_literal.h"
#include "search_test_support.h"

namespace {

using marlix::testing::operator""_cp949;

std::string U8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

struct CliRun {
  int status = -1;
  std::string out;
  std::string err;
};

std::string Quote(const std::string& arg) {
  std::string q = "'";
  for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

CliRun RunCli(const std::vector<std::string>& args, const std::string& env = "",
              const std::string& input = "/dev/null") {
  // Test cases run in parallel: each run has its own folder.
  char pattern[] = "/tmp/marlix-cli-XXXXXX";
  const std::string dir = mkdtemp(pattern);
  std::string command = env + " " + Quote(MARLIX_SEARCH_EXE);
  for (const std::string& a : args) command += " " + Quote(a);
  command += " >" + dir + "/out 2>" + dir + "/err <" + Quote(input);
  CliRun run;
  const int raw = std::system(command.c_str());
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.out = Slurp(dir + "/out");
  run.err = Slurp(dir + "/err");
  std::filesystem::remove_all(dir);
  return run;
}

const std::string kData = MARLIX_REAL_DATA;

// The UTF-8 twin of the real data: the expected output, line for line.
std::vector<std::string> Utf8Lines() {
  std::string path = kData;
  path.replace(path.rfind(".txt"), 4, ".utf8.txt");
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string s;
  for (const std::string& l : lines) s += l + "\n";
  return s;
}

TEST(Cli, PrintsMatchesInUtf8AndFileOrder) {
  const auto all = Utf8Lines();
  std::vector<std::string> expected;
  for (const std::string& l : all) {
    if (l.find(U8(u8"역삼"), 8) != std::string::npos && l.find(U8(u8"강남구"), 8) != std::string::npos) {
      expected.push_back(l);
    }
  }
  ASSERT_FALSE(expected.empty());
  const CliRun run = RunCli({"--data", kData, "name", U8(u8"역삼 강남구")});
  EXPECT_EQ(run.status, 0) << run.err;
  ASSERT_EQ(run.out.size(), Joined(expected).size());
  EXPECT_EQ(run.out, Joined(expected));

  const CliRun code = RunCli({"--data", kData, "code", "135 080"});
  EXPECT_EQ(code.out, U8(u8"135-080 서울 강남구 역삼동\n"));
  const CliRun either = RunCli({"--data", kData, "or", U8(u8"세종"), U8(u8"제주")});
  std::vector<std::string> sejong_or_jeju;
  for (const std::string& l : all) {
    if (l.find(U8(u8"세종")) != std::string::npos || l.find(U8(u8"제주")) != std::string::npos) {
      sejong_or_jeju.push_back(l);
    }
  }
  EXPECT_EQ(either.out, Joined(sejong_or_jeju));
  const CliRun both = RunCli({"--data", kData, "and", U8(u8"세종"), U8(u8"제주")});
  EXPECT_EQ(both.status, 1);
  EXPECT_EQ(both.out, "");
}

TEST(Cli, CopyModesCutTheLine) {
  const std::vector<std::string> base = {"--data", kData};
  auto run = [&](const char* mode) {
    std::vector<std::string> args = base;
    args.insert(args.end(), {"--copy", mode, "code", "135080"});
    return RunCli(args).out;
  };
  EXPECT_EQ(run("code"), "135-080\n");
  EXPECT_EQ(run("address"), U8(u8"서울 강남구 역삼동\n"));
  EXPECT_EQ(run("line"), U8(u8"135-080 서울 강남구 역삼동\n"));

  // A five-digit line beside the old ones (narrow literals are CP949 here).
  marlix::testing::TempFile mixed(
      "135-080 서울 강남구 역삼동\r\n06315 서울특별시 강남구 논현로8길 67 (개포동)\r\n"_cp949);
  auto today = [&](const char* mode, const char* term) {
    return RunCli({"--data", mixed.path(), "--copy", mode, "code", term}).out;
  };
  EXPECT_EQ(today("code", "063 15"), "06315\n");
  EXPECT_EQ(today("address", "063-15"), U8(u8"서울특별시 강남구 논현로8길 67 (개포동)\n"));
  EXPECT_EQ(today("code", "1"), "");
  EXPECT_EQ(RunCli({"--data", mixed.path(), "name", U8(u8"논현로8길 67")}).out,
            U8(u8"06315 서울특별시 강남구 논현로8길 67 (개포동)\n"));

  // English: from the post.csv beside the data; a line it cannot write copies whole.
  char pattern[] = "/tmp/marlix-english-XXXXXX";
  const std::filesystem::path folder = mkdtemp(pattern);
  const std::string data = (folder / "postcode.txt").string();
  std::ofstream(data, std::ios::binary)
      << "135-080 서울 강남구 역삼동\r\n06315 서울특별시 강남구 논현로8길 지하 67 (개포동)\r\n"_cp949
         "06315 서울특별시 강남구 개포로 1\r\n"_cp949;
  auto english = [&](const char* term) { return RunCli({"--data", data, "--copy", "english", "name", term}).out; };
  EXPECT_EQ(english(U8(u8"강남구").c_str()),
            U8(u8"135-080 서울 강남구 역삼동\n06315 서울특별시 강남구 논현로8길 지하 67 (개포동)\n"
               u8"06315 서울특별시 강남구 개포로 1\n"));
  std::ofstream(folder / "post.csv", std::ios::binary)
      << "우편번호,시도,시군구,도로명 수,건물 수,시도 영문,시군구 영문,행정동,읍면,도로명\r\n"_cp949
         "06315,서울특별시,강남구,2,45,Seoul,Gangnam-gu,개포2동,,개포로=;논현로8길=Nonhyeon-ro 8-gil\r\n"_cp949;
  EXPECT_EQ(english(U8(u8"강남구").c_str()),
            U8(u8"135-080 서울 강남구 역삼동\nJiha 67, Nonhyeon-ro 8-gil, Gangnam-gu, Seoul 06315\n"
               u8"06315 서울특별시 강남구 개포로 1\n"));
  EXPECT_EQ(RunCli({"--raw", "--data", data, "--copy", "english", "code", "06315"}).out,
            "Jiha 67, Nonhyeon-ro 8-gil, Gangnam-gu, Seoul 06315\n06315 서울특별시 강남구 개포로 1\n"_cp949);

  // A code search looks the code up only when post.csv's sign that the data is
  // sorted names this file's size: an unsorted file with a stale sign is read whole.
  const std::string unsorted = "06315 a\n135-080 b\n200-000 x\n06315 c\n";
  std::ofstream(data, std::ios::binary) << unsorted;
  std::ofstream(folder / "post.csv", std::ios::binary)
      << "우편번호,시도,시군구,도로명 수,건물 수,시도 영문,시군구 영문,행정동,읍면,도로명\r\n"_cp949
      << "postcode.txt," << unsorted.size() + 1 << ",4\r\n";
  EXPECT_EQ(RunCli({"--data", data, "code", "06315"}).out, "06315 a\n06315 c\n");
  std::filesystem::remove_all(folder);
}

TEST(Cli, RawModeKeepsCp949Bytes) {
  const CliRun run = RunCli({"--raw", "--data", kData, "name", "역삼동"_cp949});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.substr(0, run.out.find('\n')), "135-080 서울 강남구 역삼동"_cp949);
  // Undecodable bytes in the data leave as U+FFFD without raw, untouched with it.
  marlix::testing::TempFile odd("123-456 \xFF\xFF x\n");
  EXPECT_EQ(RunCli({"--data", odd.path(), "name", "x"}).out, "123-456 \xEF\xBF\xBD\xEF\xBF\xBD x\n");
  EXPECT_EQ(RunCli({"--raw", "--data", odd.path(), "name", "x"}).out, "123-456 \xFF\xFF x\n");
}

TEST(Cli, ReportsTroubleWithStatusTwo) {
  const std::string missing = "/nonexistent/marlix/postcode.txt";
  const CliRun no_file = RunCli({"--data", missing, "code", "135"});
  EXPECT_EQ(no_file.status, 2);
  EXPECT_NE(no_file.err.find(missing), std::string::npos) << no_file.err;
  EXPECT_EQ(no_file.out, "");

  const CliRun emoji = RunCli({"--data", kData, "name", U8(u8"😀")});
  EXPECT_EQ(emoji.status, 2);
  EXPECT_NE(emoji.err.find("CP949"), std::string::npos) << emoji.err;

  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{{},
                                                                                   {"find", "x"},
                                                                                   {"and", "x"},
                                                                                   {"code", "1", "2"},
                                                                                   {"--copy", "all", "code", "1"},
                                                                                   {"--copy", "English", "code", "1"},
                                                                                   {"--data"},
                                                                                   {"--frobnicate", "code", "1"}}) {
    const CliRun run = RunCli(bad);
    EXPECT_EQ(run.status, 2) << (bad.empty() ? "" : bad[0]);
    EXPECT_NE(run.err.find("Usage"), std::string::npos);
  }
  const CliRun help = RunCli({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--copy"), std::string::npos);
  EXPECT_NE(help.out.find("english"), std::string::npos);
}

TEST(Cli, NoMatchIsStatusOneAndSilent) {
  const CliRun run = RunCli({"--data", kData, "code", "1"});  // under two code bytes: nothing
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
}

TEST(Cli, DefaultDataFileLivesInTheUserDataFolder) {
  char pattern[] = "/tmp/marlix-xdg-XXXXXX";
  const std::filesystem::path home = mkdtemp(pattern);
  std::filesystem::create_directories(home / "marlix");
  std::ofstream(home / "marlix" / "postcode.txt", std::ios::binary) << "999-999 x\r\n";
  const CliRun run = RunCli({"code", "999999"}, "XDG_DATA_HOME=" + Quote(home.string()));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "999-999 x\n");
  std::filesystem::remove_all(home);
}

// An order list as Korean Excel saves it (CP949, CR LF, quotes), a copied
// column, a plain list: each row gets its code, address, English and verdict.
TEST(Cli, ConvertGivesEachRowItsCode) {
  char pattern[] = "/tmp/marlix-convert-XXXXXX";
  const std::filesystem::path folder = mkdtemp(pattern);
  const std::string data = (folder / "postcode.txt").string();
  std::ofstream(data, std::ios::binary)
      << "06315 서울특별시 강남구 논현로8길 67 (개포동, Artespace) 개포동 1183-10\r\n"_cp949
         "06316 서울특별시 강남구 논현로8길 7 (개포동) 개포동 1190\r\n"_cp949
         "34000 대전광역시 중구 중앙로 12 (은행동) 은행동 1\r\n"_cp949
         "41900 대구광역시 중구 중앙로 12 (동인동1가) 동인동1가 2\r\n"_cp949
         "28101 충청북도 청주시 상당구 중앙로10번길 3\r\n"_cp949;
  std::ofstream(folder / "post.csv", std::ios::binary)
      << "우편번호,시도,시군구,도로명 수,건물 수,시도 영문,시군구 영문,행정동,읍면,도로명\r\n"_cp949
         "06315,서울특별시,강남구,1,1,Seoul,Gangnam-gu,개포4동,,논현로8길=Nonhyeon-ro 8-gil\r\n"_cp949
         "28101,충청북도,청주시 상당구,1,1,Chungcheongbuk-do,Cheongju-si Sangdang-gu,,,중앙로10번길=Jungang-ro 10beon-gil\r\n"_cp949;
  const std::string orders = (folder / "orders.csv").string();
  std::ofstream(orders, std::ios::binary)
      << "주문번호,받는분,주소,연락처\r\n"_cp949
         "1,김철수,\"서울시 강남구 논현로8길 67, 101동 1203호\",010-1234-5678\r\n"_cp949
         "2,이영희,중앙로 12 3층,010\r\n"_cp949
         "3,박민수,논현로8길 6,\r\n"_cp949
         "4,최,,\r\n"_cp949;
  const std::string want =
      U8(u8"주문번호,받는분,주소,연락처,우편번호,도로명주소,영문주소,결과\r\n"
         u8"1,김철수,\"서울시 강남구 논현로8길 67, 101동 1203호\",010-1234-5678,06315,"
         u8"\"서울특별시 강남구 논현로8길 67 (개포동, Artespace) 개포동 1183-10\",\"67, Nonhyeon-ro 8-gil, Gangnam-gu, "
         u8"Seoul 06315\",일치\r\n"
         u8"2,이영희,중앙로 12 3층,010,34000,대전광역시 중구 중앙로 12 (은행동) 은행동 1,,후보 2\r\n"
         u8"3,박민수,논현로8길 6,,,,,없음\r\n"
         u8"4,최,,,,,,없음\r\n");
  const CliRun run = RunCli({"convert", "--data", data, "--column", U8(u8"주소"), orders});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, want);
  EXPECT_NE(run.err.find(U8(u8"4 rows: 일치 1, 후보 1, 없음 2")), std::string::npos) << run.err;
  // To a file: UTF-8 with its mark, as Excel opens it.
  const std::string out = (folder / "out.csv").string();
  EXPECT_EQ(RunCli({"convert", "--data", data, "--column", U8(u8"주소"), "--out", out, orders}).status, 0);
  EXPECT_EQ(Slurp(out), "\xEF\xBB\xBF" + want);

  // A column copied from Excel (tabs, no header) on standard input, and a plain list.
  const std::string copied = (folder / "copied.txt").string();
  std::ofstream(copied, std::ios::binary) << U8(u8"x\t논현로8길 7\r\ny\t대전 중앙로 12 (은행동)\r\n");
  EXPECT_EQ(RunCli({"convert", "--data", data, "--column", "2"}, "", copied).out,
            U8(u8"x,논현로8길 7,06316,서울특별시 강남구 논현로8길 7 (개포동) 개포동 1190,,일치\r\n"
               u8"y,대전 중앙로 12 (은행동),34000,대전광역시 중구 중앙로 12 (은행동) 은행동 1,,일치\r\n"));
  const std::string list = (folder / "list.txt").string();
  std::ofstream(list, std::ios::binary) << U8(
      u8"\xEF\xBB\xBF부산 논현로8길 7\nNonhyeon-ro 8-gil 67 2F\n"
      u8"3, Jungang-ro 10beon-gil, Cheongju-si Sangdang-gu, Chungcheongbuk-do\n");
  EXPECT_EQ(RunCli({"convert", "--data", data, list}).out,
            U8(u8"부산 논현로8길 7,,,,없음\r\nNonhyeon-ro 8-gil 67 2F,06315,"
               u8"\"서울특별시 강남구 논현로8길 67 (개포동, Artespace) 개포동 1183-10\",\"67, Nonhyeon-ro 8-gil, "
               u8"Gangnam-gu, Seoul 06315\",일치\r\n"
               u8"\"3, Jungang-ro 10beon-gil, Cheongju-si Sangdang-gu, Chungcheongbuk-do\",28101,충청북도 청주시 "
               u8"상당구 중앙로10번길 3,"
               u8"\"3, Jungang-ro 10beon-gil, Sangdang-gu, Cheongju-si, Chungcheongbuk-do 28101\",일치\r\n"));

  // Bad options, an input or data file that cannot be read: status 2, nothing out.
  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {"convert", "--data", data, "--column", "0", orders},
           {"convert", "--data", data, "--column", U8(u8"없는열"), orders},
           {"convert", "--data", data, "--colour", orders},
           {"convert", "--data", data, orders, list},
           {"convert", "--data", data, (folder / "missing.csv").string()},
           {"convert", "--data", (folder / "missing.txt").string(), orders},
           {"convert", "--data", data, "--out", (folder / "no" / "out.csv").string(), orders}}) {
    const CliRun run = RunCli(bad);
    EXPECT_EQ(run.status, 2) << bad[3];
    EXPECT_EQ(run.out, "") << bad[3];
    EXPECT_NE(run.err.find("convert"), std::string::npos) << run.err;
  }
  std::filesystem::remove_all(folder);
}

}  // namespace
