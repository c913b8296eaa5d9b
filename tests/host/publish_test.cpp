// marlix-publish data as the operator runs it, checked with marlix-search as
// users search: Korea Post's DB in each form it comes in, bad rows, long
// lines, and sources that stop the run.
#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "test_files.h"

namespace {

namespace fs = std::filesystem;
using marlix_test::ReadBytes;
using marlix_test::WriteBytes;

std::string U8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

struct Ran {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs shell words in `dir`, keeping what they print.
Ran Shell(const fs::path& dir, const std::string& words) {
  const std::string command = "cd '" + dir.string() + "' && " + words + " >.out 2>.err </dev/null";
  const int raw = std::system(command.c_str());
  Ran run{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadBytes(dir / ".out"), ReadBytes(dir / ".err")};
  fs::remove(dir / ".out");
  fs::remove(dir / ".err");
  return run;
}

Ran Publish(const fs::path& dir, const std::string& args) {
  return Shell(dir, std::string("'") + MARLIX_PUBLISH_EXE + "' " + args);
}

std::string Convert(const std::string& text, const char* to, const char* from) {
  const iconv_t cd = iconv_open(to, from);
  std::string out(text.size() * 2 + 16, '\0');
  char* in = const_cast<char*>(text.data());
  char* dst = out.data();
  std::size_t in_left = text.size();
  std::size_t out_left = out.size();
  const bool ok = iconv(cd, &in, &in_left, &dst, &out_left) != static_cast<std::size_t>(-1);
  iconv_close(cd);
  EXPECT_TRUE(ok) << "not convertible to " << to;
  out.resize(out.size() - out_left);
  return out;
}

std::vector<std::string> Split(const std::string& text, const std::string& by) {
  std::vector<std::string> parts;
  std::size_t at = 0;
  for (std::size_t end; (end = text.find(by, at)) != std::string::npos; at = end + by.size()) {
    parts.push_back(text.substr(at, end - at));
  }
  if (at < text.size()) parts.push_back(text.substr(at));
  return parts;
}

std::string Trim(std::string s) {
  s.erase(0, s.find_first_not_of(' '));
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}

// The sample's rows, UTF-8, each field trimmed; the header row first.
std::vector<std::vector<std::string>> SampleRows() {
  std::vector<std::vector<std::string>> rows;
  for (const std::string& line : Split(ReadBytes(MARLIX_OFFICIAL_SAMPLE), "\n")) {
    rows.push_back(Split(line + "|", "|"));
    for (std::string& f : rows.back()) f = Trim(f);
  }
  return rows;
}

std::string Joined(const std::vector<std::string>& fields) {
  std::string line;
  for (const std::string& f : fields) line += (line.empty() ? "" : "|") + f;
  return line;
}

std::map<std::string, std::string> Snapshot(const fs::path& dir) {
  std::map<std::string, std::string> files;
  if (fs::exists(dir)) {
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
      if (e.is_regular_file()) files[fs::relative(e.path(), dir)] = ReadBytes(e.path());
    }
  }
  return files;
}

// Orders UTF-8 texts as their CP949 bytes, as post.csv's lists are.
struct Cp949Less {
  bool operator()(const std::string& a, const std::string& b) const {
    return Convert(a, "CP949", "UTF-8") < Convert(b, "CP949", "UTF-8");
  }
};

// KOREAN=ENGLISH items joined by ';' (a list of post.csv).
std::string NamedList(const std::map<std::string, std::string, Cp949Less>& names) {
  std::string list;
  for (const auto& [korean, english] : names) list += (list.empty() ? "" : ";") + korean + "=" + english;
  return list;
}

const char8_t kCsvHeader[] = u8"우편번호,시도,시군구,도로명 수,건물 수,시도 영문,시군구 영문,행정동,읍면,도로명\r\n";

// post.csv's last row, which says postcode.txt is sorted: its size, lines and five-digit lines.
std::string SortedRow(const std::string& postcode_txt) {
  const std::vector<std::string> lines = Split(postcode_txt, "\r\n");
  const auto five = std::count_if(lines.begin(), lines.end(), [](const std::string& l) {
    return l.size() > 6 && l.find_first_not_of("0123456789") == 5 && l[5] == ' ';
  });
  return "postcode.txt," + std::to_string(postcode_txt.size()) + "," + std::to_string(lines.size()) + "," +
         std::to_string(five) + "\r\n";
}

// The value after "NAME:" in the summary.
std::size_t Count(const Ran& run, const std::string& name) {
  const std::size_t at = run.out.find(name + ":");
  return at == std::string::npos ? 0 : std::stoul(run.out.substr(at + name.size() + 1));
}

class PublishTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = marlix_test::MakeTempDir("publish"); }
  void TearDown() override { fs::remove_all(dir_); }

  // The published data file's lines, UTF-8.
  std::vector<std::string> Lines(const std::string& out) const {
    return Split(Convert(ReadBytes(dir_ / out / "postcode.txt"), "UTF-8", "CP949"), "\r\n");
  }
  std::vector<std::string> Search(const std::string& out, const std::string& args) const {
    return Split(Shell(dir_, std::string("'") + MARLIX_SEARCH_EXE + "' --data " + out + "/postcode.txt " + args).out,
                 "\n");
  }

  fs::path dir_;
};

TEST_F(PublishTest, EveryRowIsFoundByCodeRoadLotAndNameInEveryFormTheDbComesIn) {
  const auto rows = SampleRows();
  const std::string utf8 = ReadBytes(MARLIX_OFFICIAL_SAMPLE);
  std::string crlf;
  for (const std::string& line : Split(utf8, "\n")) crlf += line + "\r\n";
  fs::create_directories(dir_ / "cp949");
  // The narrow literal is CP949 bytes, as Korea Post's names inside the zip are.
  WriteBytes(dir_ / "cp949" / "서울특별시.txt", Convert(utf8, "CP949", "UTF-8"));
  ASSERT_EQ(Shell(dir_ / "cp949", "zip -q -X ../db.zip *.txt").status, 0);
  fs::create_directories(dir_ / "utf8");
  WriteBytes(dir_ / "utf8" / U8(u8"서울특별시.txt"), utf8);
  fs::create_directories(dir_ / "bom");
  WriteBytes(dir_ / "bom" / U8(u8"서울특별시.txt"), "\xEF\xBB\xBF" + crlf);

  const std::string sources[] = {"utf8/*.txt", "bom/*.txt", "cp949/*.txt", "db.zip"};
  for (const std::string& source : sources) {
    SCOPED_TRACE(source);
    const Ran run = Publish(dir_, "data --version 2026.12 --out out " + source);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(Count(run, "rows read"), rows.size() - 1);
    EXPECT_EQ(Count(run, "rows skipped"), 0u);
    EXPECT_EQ(Count(run, "lines written") + Count(run, "rows merged"), rows.size() - 1);
    const std::string version = Convert(ReadBytes(dir_ / "out" / "postver.txt"), "UTF-8", "CP949");
    EXPECT_NE(version.find(U8(u8"서울특별시.txt")), std::string::npos) << version;
    EXPECT_NE(version.find("2026.12"), std::string::npos) << version;
    fs::rename(dir_ / "out", dir_ / ("out-" + std::to_string(&source - sources)));
  }
  for (const char* file : {"postcode.txt", "post.csv"}) {
    for (int i = 1; i < 4; ++i)
      EXPECT_EQ(ReadBytes(dir_ / "out-0" / file), ReadBytes(dir_ / ("out-" + std::to_string(i)) / file)) << file;
  }

  const std::string raw = ReadBytes(dir_ / "out-0" / "postcode.txt");
  const auto cp949_lines = Split(raw, "\r\n");
  EXPECT_EQ(raw.substr(raw.size() - 2), "\r\n");
  EXPECT_TRUE(std::is_sorted(cp949_lines.begin(), cp949_lines.end()));
  std::set<std::string> codes;
  for (const std::string& line : cp949_lines) {
    EXPECT_LE(line.size(), 254u) << line;
    EXPECT_EQ(line.find('\n'), std::string::npos);
    codes.insert(line.substr(0, 5));
  }
  const auto lines = Lines("out-0");
  // post.csv: a header, then per code its 시도 and 시군구 (of most rows), its
  // distinct road names and its rows, the English of that 시도 and 시군구, its
  // 행정동, 읍면 and roads; then the sign that postcode.txt is sorted.
  std::map<std::string, std::map<std::string, std::size_t>> districts;
  std::map<std::string, std::string> english;  // of 시도,시군구
  std::map<std::string, std::map<std::string, std::string, Cp949Less>> roads;
  std::map<std::string, std::map<std::string, std::string, Cp949Less>> towns;
  std::map<std::string, std::set<std::string, Cp949Less>> hdongs;
  std::map<std::string, std::size_t> buildings;
  for (std::size_t r = 1; r < rows.size(); ++r) {
    const auto& f = rows[r];
    ++districts[f[0]][f[1] + "," + f[3]];
    english[f[1] + "," + f[3]] = f[2] + "," + f[4];
    roads[f[0]][f[8]] = f[9];
    if (!f[5].empty()) towns[f[0]][f[5]] = f[6];
    if (!f[19].empty()) hdongs[f[0]].insert(f[19]);
    ++buildings[f[0]];
  }
  std::string expected_csv = U8(kCsvHeader);
  for (const auto& [code, counts] : districts) {
    const auto most = std::max_element(counts.begin(), counts.end(),
                                       [](const auto& a, const auto& b) { return a.second < b.second; });
    std::string hdong_list;
    for (const std::string& h : hdongs[code]) hdong_list += (hdong_list.empty() ? "" : ";") + h;
    expected_csv += code + "," + most->first + "," + std::to_string(roads[code].size()) + "," +
                    std::to_string(buildings[code]) + "," + english[most->first] + "," + hdong_list + "," +
                    NamedList(towns[code]) + "," + NamedList(roads[code]) + "\r\n";
  }
  expected_csv += SortedRow(ReadBytes(dir_ / "out-0" / "postcode.txt"));
  EXPECT_EQ(Convert(ReadBytes(dir_ / "out-0" / "post.csv"), "UTF-8", "CP949"), expected_csv);
  // The sample has 읍면 and 행정동 rows, and 세종 without 시군구 (nor its English).
  EXPECT_NE(expected_csv.find(U8(u8",강동면,강동면=Gangdong-myeon,")), std::string::npos) << expected_csv;
  EXPECT_NE(expected_csv.find(U8(u8",Sejong-si,,")), std::string::npos) << expected_csv;
  EXPECT_EQ(districts.size(), codes.size());
  EXPECT_NE(Convert(ReadBytes(dir_ / "out-0" / "postver.txt"), "UTF-8", "CP949")
                .find(U8(u8"우편번호 ") + std::to_string(codes.size()) + U8(u8"개")),
            std::string::npos);

  for (std::size_t r = 1; r < rows.size(); ++r) {
    const auto& f = rows[r];
    SCOPED_TRACE(Joined(f));
    const std::string& code = f[0];
    const std::string number = (f[10] == "1" ? U8(u8"지하 ") : "") + f[11] + (f[12] == "0" ? "" : "-" + f[12]);
    const std::string place = !f[17].empty() ? f[17] : f[18];
    const std::string lot = place + " " + (f[20] == "1" ? U8(u8"산") : "") + f[21] + (f[23] == "0" ? "" : "-" + f[23]);
    // One line per road address, the rows of one road address merged into it.
    std::vector<std::string> mine;
    for (const std::string& line : lines) {
      if (line.starts_with(code + " ") && (line + " ").find(" " + f[8] + " " + number + " ") != std::string::npos) {
        mine.push_back(line);
      }
    }
    ASSERT_EQ(mine.size(), 1u);
    const std::string& line = mine[0];
    EXPECT_EQ(line.find("  "), std::string::npos);
    EXPECT_NE(line.find(" " + lot), std::string::npos);
    EXPECT_NE(line.find(f[15]), std::string::npos);
    std::vector<std::string> terms = {"code " + code, "name '" + f[8] + " " + f[11] + "'", "name '" + lot + "'"};
    if (!f[15].empty()) terms.push_back("name '" + f[15] + "'");
    for (const std::string& term : terms) {
      const auto found = Search("out-0", term);
      EXPECT_NE(std::find(found.begin(), found.end(), line), found.end()) << term;
    }
    for (const std::string& copied : Search("out-0", "--copy code code " + code)) EXPECT_EQ(copied, code);
  }
}

TEST_F(PublishTest, BadRowsAreReportedWithTheirPlaceAndSkipped) {
  const auto rows = SampleRows();
  auto with = [&](std::size_t row, std::size_t field, const std::string& value) {
    auto f = rows[row];
    f[field] = value;
    return Joined(f);
  };
  const std::string header = Joined(rows[0]);
  const std::string good = Joined(rows[1]);
  const std::vector<std::string> bad = {
      Joined(std::vector<std::string>(rows[2].begin(), rows[2].end() - 1)),  // 25 fields
      with(3, 0, "6325"),                                                    // a four-digit code
      with(4, 15, U8(u8"개포😀하우스")),                                      // outside CP949
      with(5, 8, U8(u8"언주로㐀")),
      with(6, 11, "1O3"),
  };
  std::string text = header + "\n" + good + "\n";
  for (const std::string& b : bad) text += b + "\n";
  for (int i = 0; i < 10; ++i) text += bad[0] + "\n";
  // The sample has no mountain lot and no bulk-delivery name: the last good row gets both.
  auto mountain = rows.back();
  mountain[20] = "1";
  mountain[14] = U8(u8"가람물류센터");
  text += Joined(mountain) + "\n";
  WriteBytes(dir_ / "db.txt", text);

  const Ran run = Publish(dir_, "data --out out db.txt");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Count(run, "rows read"), 17u);
  EXPECT_EQ(Count(run, "rows skipped"), 15u);
  EXPECT_EQ(Count(run, "lines written"), 2u);
  for (int line = 3; line <= 12; ++line) {
    EXPECT_NE(run.err.find("db.txt:" + std::to_string(line) + ":"), std::string::npos) << line << run.err;
  }
  EXPECT_EQ(run.err.find("db.txt:13:"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("15 bad rows in all"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("25 fields"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(U8(u8"시군구용건물명 holds a character that CP949 cannot hold")), std::string::npos)
      << run.err;
  const auto lines = Lines("out");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(lines[0].starts_with(rows[1][0] + " ")) << lines[0];
  EXPECT_TRUE(lines[1].starts_with(mountain[0] + " ")) << lines[1];
  EXPECT_NE((lines[1] + " ").find(" " + mountain[17] + U8(u8" 산") + mountain[21] + " "), std::string::npos)
      << lines[1];
  EXPECT_NE(lines[1].find(mountain[14]), std::string::npos) << lines[1];
}

TEST_F(PublishTest, ALongRoadAddressLosesNamesNotItsRoadAddressAndKeptLinesComeFirst) {
  const auto rows = SampleRows();
  const auto& artespace = *std::find_if(rows.begin(), rows.end(), [](const auto& f) { return f[15] == "Artespace"; });
  std::string text = Joined(rows[0]) + "\n";
  for (int i = 0; i < 30; ++i) {
    auto f = artespace;
    f[13] = std::to_string(1000 + i);
    f[15] = U8(u8"아르테스페이스") + std::to_string(i) + U8(u8"호관");
    f[23] = std::to_string(10 + i);
    text += Joined(f) + "\n";
  }
  WriteBytes(dir_ / "db.txt", text);
  // Kept lines in UTF-8 here; the demo keeps CP949 ones.
  WriteBytes(dir_ / "old.txt", U8(u8"135-080 서울 강남구 역삼동\r\n123 bad\r\n135-081 서울 강남구 역삼1동\r\n"));

  const Ran run = Publish(dir_, "data --keep-lines old.txt --out out db.txt");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Count(run, "lines cut"), 1u);
  EXPECT_EQ(Count(run, "rows merged"), 29u);
  EXPECT_EQ(Count(run, "lines written"), 3u);
  EXPECT_NE(run.err.find("old.txt:2:"), std::string::npos) << run.err;
  const auto lines = Lines("out");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], U8(u8"135-080 서울 강남구 역삼동"));
  EXPECT_EQ(lines[1], U8(u8"135-081 서울 강남구 역삼1동"));
  const std::string& cut = lines[2];
  EXPECT_TRUE(cut.starts_with(artespace[0] + U8(u8" 서울특별시 강남구 ") + artespace[8] + " " + artespace[11] +
                              U8(u8" (개포동, ")))
      << cut;
  EXPECT_LE(Convert(cut, "CP949", "UTF-8").size(), 254u);
  EXPECT_NE(cut.find(artespace[17] + " " + artespace[21] + "-10"), std::string::npos) << cut;
  // post.csv counts every building of the code; kept lines have no row there.
  // The kept six-digit lines sort after the five-digit ones: no sorted sign.
  EXPECT_EQ(Convert(ReadBytes(dir_ / "out" / "post.csv"), "UTF-8", "CP949"),
            U8(kCsvHeader) + artespace[0] +
                U8(u8",서울특별시,강남구,1,30,Seoul,Gangnam-gu,개포4동,,논현로8길=Nonhyeon-ro 8-gil\r\n"));
}

// post.csv's last row says postcode.txt is sorted, with its size and lines,
// only when every line written is in byte order, kept lines included.
TEST_F(PublishTest, PostCsvSaysPostcodeTxtIsSortedOnlyWhenEveryLineIsInByteOrder) {
  const std::string sample = MARLIX_OFFICIAL_SAMPLE;
  struct Case {
    const char8_t* kept;  // lines kept before the DB's, "" for none
    bool sorted;
  } cases[] = {
      {u8"", true},
      {u8"010-100 서울 종로구 가동\n010-200 서울 종로구 나동\n", true},   // before 06040
      {u8"010-200 서울 종로구 나동\n010-100 서울 종로구 가동\n", false},  // out of order
      {u8"135-080 서울 강남구 역삼동\n", false},                          // after 06040
      {u8"06040 서울특별시 강남구 도산대로 1\n", true},                   // equal code, lower bytes
      {u8"99999 제주특별자치도 끝\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(U8(c.kept));
    WriteBytes(dir_ / "kept.txt", U8(c.kept));
    const Ran run = Publish(dir_, std::string("data --out out ") + (*c.kept ? "--keep-lines kept.txt " : "") + sample);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string data = ReadBytes(dir_ / "out" / "postcode.txt");
    const std::string csv = ReadBytes(dir_ / "out" / "post.csv");
    const std::string sign = SortedRow(data);
    EXPECT_EQ(csv.ends_with("\r\n" + sign), c.sorted) << csv.substr(csv.size() - 80);
    EXPECT_EQ(csv.find("postcode.txt,") != std::string::npos, c.sorted);
    const auto lines = Split(data, "\r\n");
    EXPECT_EQ(std::is_sorted(lines.begin(), lines.end()), c.sorted);
  }
}

// A code's row in post.csv: the 시군구 with most of its rows, its distinct
// road names, its buildings (rows, also those merged into one line).
TEST_F(PublishTest, PostCsvGivesACodeTheDistrictOfMostOfItsRows) {
  const auto rows = SampleRows();
  const auto& artespace = *std::find_if(rows.begin(), rows.end(), [](const auto& f) { return f[15] == "Artespace"; });
  std::string text = Joined(rows[0]) + "\n" + Joined(artespace) + "\n";
  // 서초구's rows: a road whose English one row lacks, two 행정동 (one row
  // has none), and a 읍면 of one row.
  struct Row {
    const char* number;
    const char* sigungu_en;
    const char* road_en;
    const char8_t* hdong;
    const char8_t* town;
  } seocho[] = {
      {"10", "Seocho-gu", "Banpo-daero", u8"반포4동", u8""},
      {"10", "Seocho-gu", "", u8"", u8""},
      {"12", "", "Banpo-daero", u8"반포본동", u8"가상면"},
  };
  for (const Row& r : seocho) {
    auto f = artespace;
    f[3] = U8(u8"서초구");
    f[4] = r.sigungu_en;
    f[5] = U8(r.town);
    f[6] = *r.town ? "Gasang-myeon" : "";
    f[8] = U8(u8"반포대로");
    f[9] = r.road_en;
    f[11] = r.number;
    f[13] = std::string("9") + r.number;
    f[19] = U8(r.hdong);
    text += Joined(f) + "\n";
  }
  WriteBytes(dir_ / "db.txt", text);
  const Ran run = Publish(dir_, "data --out out db.txt");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Count(run, "lines written"), 3u);
  EXPECT_EQ(Convert(ReadBytes(dir_ / "out" / "post.csv"), "UTF-8", "CP949"),
            U8(kCsvHeader) + artespace[0] +
                U8(u8",서울특별시,서초구,2,4,Seoul,Seocho-gu,개포4동;반포4동;반포본동,가상면=Gasang-myeon,"
                   u8"논현로8길=Nonhyeon-ro 8-gil;반포대로=Banpo-daero\r\n") +
                SortedRow(ReadBytes(dir_ / "out" / "postcode.txt")));
}

TEST_F(PublishTest, ASourceThatStopsTheRunLeavesTheFolderAsItWas) {
  const std::string sample = MARLIX_OFFICIAL_SAMPLE;
  ASSERT_EQ(Publish(dir_, "data --out out " + sample).status, 0);
  WriteBytes(dir_ / "out" / "notes.txt", "the operator's own file");
  WriteBytes(dir_ / "header.txt", U8(u8"우편번호|시도\n06315|서울특별시\n"));
  WriteBytes(dir_ / "empty.txt", "");
  WriteBytes(dir_ / "broken.zip", "PK\x03\x04 not really a zip");
  fs::create_directories(dir_ / "folder");
  const auto before = Snapshot(dir_ / "out");
  for (const char* bad : {"header.txt", "missing.txt", "empty.txt", "broken.zip", "folder"}) {
    for (const char* out : {"out", "new"}) {
      const Ran run = Publish(dir_, std::string("data --out ") + out + " " + sample + " " + bad);
      EXPECT_EQ(run.status, 2) << bad;
      EXPECT_NE(run.err.find(bad), std::string::npos) << run.err;
      EXPECT_EQ(run.out, "");
    }
    EXPECT_EQ(Snapshot(dir_ / "out"), before) << bad;
    EXPECT_FALSE(fs::exists(dir_ / "new")) << bad;
  }
  for (const std::string& usage :
       std::vector<std::string>{"", "frob", "data", "data --out out", "data " + sample,
                                "data --frob --out out " + sample, "data --out out --version"}) {
    const Ran run = Publish(dir_, usage);
    EXPECT_EQ(run.status, 2) << usage;
    EXPECT_NE(run.err.find("Usage"), std::string::npos) << usage;
  }
  EXPECT_EQ(Snapshot(dir_ / "out"), before);
}

// The rows of the made-up DB's texts in `dir`, UTF-8, without their header rows.
std::vector<std::vector<std::string>> MadeUpRows(const fs::path& dir) {
  std::vector<std::vector<std::string>> rows;
  for (const auto& e : fs::directory_iterator(dir)) {
    if (e.path().extension() != ".txt") continue;
    std::string text = ReadBytes(e.path());
    text = text.starts_with("\xEF\xBB\xBF") ? text.substr(3) : Convert(text, "UTF-8", "CP949");
    const auto lines = Split(text, "\r\n");
    for (std::size_t i = 1; i < lines.size(); ++i) rows.push_back(Split(lines[i] + "|", "|"));
  }
  return rows;
}

// The made-up nationwide DB at a small size: 17 texts in both encodings, and
// its second edition, about 1% changed.
TEST_F(PublishTest, TheMadeUpNationalDbConvertsWholeFromItsTextsAndItsZip) {
  const std::string make = std::string(MARLIX_SOURCE_DIR) + "/bench/make-national-db";
  if (Shell(dir_, "command -v python3").status != 0) GTEST_SKIP() << "no python3";
  ASSERT_EQ(Shell(dir_, "python3 '" + make + "' db --rows 3000 --zip").status, 0);
  std::set<std::string> codes;
  for (const auto& e : fs::directory_iterator(dir_ / "db")) {
    if (e.path().extension() != ".txt") continue;
    const auto lines = Split(ReadBytes(e.path()), "\r\n");
    for (std::size_t i = 1; i < lines.size(); ++i) codes.insert(lines[i].substr(0, 5));
  }
  const Ran texts = Publish(dir_, "data --out texts db/*.txt");
  const Ran zip = Publish(dir_, "data --out zip db/zipcode_DB.zip");
  for (const Ran& run : {texts, zip}) {
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Count(run, "rows read"), 3000u);
    EXPECT_EQ(Count(run, "rows skipped"), 0u);
    EXPECT_NE(run.out.find(std::to_string(codes.size()) + " codes"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("from 17 source texts"), std::string::npos) << run.out;
  }
  EXPECT_EQ(ReadBytes(dir_ / "texts" / "postcode.txt"), ReadBytes(dir_ / "zip" / "postcode.txt"));
  // post.csv: a row per code, whose buildings add up to the rows, with the
  // English names, 행정동 and roads the made-up DB fills; then the sign that
  // postcode.txt is sorted.
  const std::string csv = ReadBytes(dir_ / "texts" / "post.csv");
  const std::string data = ReadBytes(dir_ / "texts" / "postcode.txt");
  EXPECT_LE(csv.size() * 5, data.size());
  const auto csv_rows = Split(Convert(csv, "UTF-8", "CP949"), "\r\n");
  ASSERT_EQ(csv_rows.size(), codes.size() + 2);
  EXPECT_EQ(csv_rows.back() + "\r\n", SortedRow(data));
  std::size_t buildings = 0;
  std::size_t towns = 0;
  for (std::size_t i = 1; i + 1 < csv_rows.size(); ++i) {
    SCOPED_TRACE(csv_rows[i]);
    const auto f = Split(csv_rows[i] + ",", ",");
    ASSERT_EQ(f.size(), 10u);
    buildings += std::stoul(f[4]);
    EXPECT_NE(f[5], "");
    EXPECT_EQ(f[6].empty(), f[2].empty());
    EXPECT_NE(f[7], "");
    const auto roads = Split(f[9], ";");
    EXPECT_EQ(roads.size(), std::stoul(f[3]));
    for (const std::string& road : roads) EXPECT_FALSE(road.ends_with("=")) << road;
    // A 읍/면 area's 행정동 is the 읍/면 itself.
    if (!f[8].empty()) {
      EXPECT_TRUE(f[8].starts_with(Split(f[7], ";")[0] + "=")) << f[8];
    }
    towns += f[8].empty() ? 0 : 1;
  }
  EXPECT_EQ(buildings, 3000u);
  EXPECT_GT(towns, 0u);

  // Edition 2: lines gone and new ones, together about 1% of the lines; a
  // renamed road has one English name.
  ASSERT_EQ(Shell(dir_, "python3 '" + make + "' db2 --rows 3000 --edition 2").status, 0);
  const Ran second = Publish(dir_, "data --out edition2 db2/*.txt");
  ASSERT_EQ(second.status, 0) << second.err;
  EXPECT_EQ(Count(second, "rows skipped"), 0u);
  const auto first_lines = Lines("texts");
  const auto second_lines = Lines("edition2");
  const std::set<std::string> before(first_lines.begin(), first_lines.end());
  const std::set<std::string> after(second_lines.begin(), second_lines.end());
  std::size_t gone = 0;
  std::size_t added = 0;
  for (const std::string& line : before) gone += after.count(line) == 0 ? 1 : 0;
  for (const std::string& line : after) added += before.count(line) == 0 ? 1 : 0;
  EXPECT_GT(gone, 0u);
  EXPECT_GT(added, 0u);
  EXPECT_GE((gone + added) * 200, before.size()) << gone << " gone, " << added << " added";
  EXPECT_LE((gone + added) * 100, before.size() * 3) << gone << " gone, " << added << " added";
  std::set<std::string> first_roads;
  for (const auto& f : MadeUpRows(dir_ / "db")) first_roads.insert(f[8]);
  std::map<std::string, std::set<std::string>> english;
  for (const auto& f : MadeUpRows(dir_ / "db2")) {
    if (first_roads.count(f[8]) == 0) english[f[8]].insert(f[9]);
  }
  EXPECT_FALSE(english.empty()) << "no road renamed";
  for (const auto& [road, names] : english) EXPECT_EQ(names.size(), 1u) << road;
}

// A Windows program as far as the publisher reads one: the MZ and PE headers
// and a version resource with its fixed numbers and its FileVersion text.
std::string ProgramFile(unsigned major, unsigned minor, const std::string& text) {
  std::string b(0x80, '\0');
  b[0] = 'M', b[1] = 'Z', b[0x3C] = 0x40;
  b.replace(0x40, 4, std::string("PE\0\0", 4));
  auto u16 = [&](unsigned v) { b += {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; };
  auto u32 = [&](unsigned v) { u16(v & 0xFFFF), u16(v >> 16); };
  auto wide = [&](const std::string& s) {
    for (char c : s) u16(static_cast<unsigned char>(c));
    u16(0);
  };
  auto align = [&] { b.resize((b.size() + 3) & ~std::size_t{3}, '\0'); };
  u16(0), u16(52), u16(0), wide("VS_VERSION_INFO"), align();
  u32(0xFEEF04BD), u32(0x10000), u32(major << 16 | minor), u32(0);
  b += std::string(36, '\0');
  u16(0), u16(static_cast<unsigned>(text.size()) + 1), u16(1), wide("FileVersion"), align(), wide(text);
  return b + std::string(512, 'x');
}

// keygen, sign and verify, with stock OpenSSL as the judge both ways.
TEST_F(PublishTest, KeysAndSignaturesAreTheOnesOpenSslMakesAndChecks) {
  ASSERT_EQ(Publish(dir_, "keygen keys").status, 0);
  EXPECT_EQ(fs::status(dir_ / "keys/marlix-private.pem").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  // The key's folder is its owner's alone; one that others can enter is refused.
  EXPECT_EQ(fs::status(dir_ / "keys").permissions() & fs::perms::all, fs::perms::owner_all);
  ASSERT_EQ(Publish(dir_, "keygen deep/er/").status, 0);
  EXPECT_EQ(fs::status(dir_ / "deep/er").permissions() & fs::perms::all, fs::perms::owner_all);
  EXPECT_TRUE(fs::exists(dir_ / "deep/er/marlix-private.pem"));
  for (const fs::perms open : {fs::perms::group_read, fs::perms::others_exec}) {
    fs::create_directories(dir_ / "open");
    fs::permissions(dir_ / "open", fs::perms::owner_all | open);
    const Ran refused = Publish(dir_, "keygen open");
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("open: group or others can read or enter"), std::string::npos) << refused.err;
    EXPECT_TRUE(fs::is_empty(dir_ / "open"));
  }
  const std::string key = ReadBytes(dir_ / "keys/marlix-private.pem");
  EXPECT_EQ(Shell(dir_, "openssl ec -in keys/marlix-private.pem -pubout").out,
            ReadBytes(dir_ / "keys/marlix-public.pem"));
  const Ran again = Publish(dir_, "keygen keys");
  EXPECT_EQ(again.status, 2);
  EXPECT_NE(again.err.find("never overwritten"), std::string::npos) << again.err;
  EXPECT_EQ(ReadBytes(dir_ / "keys/marlix-private.pem"), key);

  WriteBytes(dir_ / "a.txt", "some data\r\n");
  WriteBytes(dir_ / "b.txt", "more data\r\n");
  ASSERT_EQ(Publish(dir_, "sign --key keys/marlix-private.pem a.txt b.txt").status, 0);
  EXPECT_EQ(Shell(dir_, "openssl dgst -sha256 -verify keys/marlix-public.pem -signature a.txt.sig a.txt").status, 0);
  // A link planted under the temporary name a run by this process id once
  // used is neither written through nor put in place.
  WriteBytes(dir_ / "victim.txt", "not the publisher's to write\n");
  const Ran planted = Shell(dir_, "ln -s victim.txt .a.txt.sig.tmp-$$ && exec '" + std::string(MARLIX_PUBLISH_EXE) +
                                      "' sign --key keys/marlix-private.pem a.txt");
  EXPECT_EQ(planted.status, 0) << planted.err;
  EXPECT_EQ(ReadBytes(dir_ / "victim.txt"), "not the publisher's to write\n");
  EXPECT_FALSE(fs::is_symlink(dir_ / "a.txt.sig"));
  EXPECT_EQ(Shell(dir_, "openssl dgst -sha256 -verify keys/marlix-public.pem -signature a.txt.sig a.txt").status, 0);
  ASSERT_EQ(Shell(dir_,
                  "openssl ecparam -name prime256v1 -genkey -noout -out other.pem && "
                  "openssl ec -in other.pem -pubout -out other-public.pem && "
                  "openssl dgst -sha256 -sign keys/marlix-private.pem -out c.txt.sig a.txt && cp a.txt c.txt")
                .status,
            0);
  EXPECT_EQ(Publish(dir_, "verify --key keys/marlix-public.pem a.txt b.txt c.txt").status, 0);
  WriteBytes(dir_ / "b.txt", "more data!\r\n");
  const std::pair<std::string, std::string> refused[] = {
      {"verify --key keys/marlix-public.pem a.txt b.txt", "b.txt: does not verify"},
      {"verify --key other-public.pem a.txt", "a.txt: does not verify"},
      {"verify --key keys/marlix-public.pem keys/marlix-public.pem", "has no signature"},
  };
  for (const auto& [args, why] : refused) {
    const Ran run = Publish(dir_, args);
    EXPECT_EQ(run.status, 1) << args;
    EXPECT_NE(run.err.find(why), std::string::npos) << args << ": " << run.err;
  }
  // A private key that group or others can read is not signed with.
  fs::copy_file(dir_ / "keys/marlix-private.pem", dir_ / "shared-key.pem");
  for (const fs::perms open : {fs::perms::group_read, fs::perms::others_read | fs::perms::others_write}) {
    fs::permissions(dir_ / "shared-key.pem", fs::perms::owner_read | fs::perms::owner_write | open);
    const Ran run = Publish(dir_, "sign --key shared-key.pem b.txt");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("shared-key.pem: a private key that group or others can read"), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("chmod 600 shared-key.pem"), std::string::npos) << run.err;
    // The tests' server signs with the same signer, so it refuses such a key too.
    const Ran server = Shell(dir_, std::string("'") + MARLIX_TEST_SERVER_EXE + "' --root . --sign-key shared-key.pem");
    EXPECT_NE(server.status, 0);
    EXPECT_NE(server.err.find("chmod 600 shared-key.pem"), std::string::npos) << server.err;
  }
  EXPECT_NE(Shell(dir_, "openssl dgst -sha256 -verify keys/marlix-public.pem -signature b.txt.sig b.txt").status, 0)
      << "b.txt changed since it was signed; no new signature was written";
  for (const std::string& args : {std::string("sign --key keys/marlix-public.pem a.txt"),
                                  std::string("verify --key a.txt a.txt"), std::string("sign a.txt")}) {
    EXPECT_EQ(Publish(dir_, args).status, 2) << args;
  }
}

// A release puts every file in with its signature; bad input changes nothing.
TEST_F(PublishTest, AReleaseIsSignedWholeAndBadInputLeavesTheServerAsItWas) {
  ASSERT_EQ(Publish(dir_, "keygen keys").status, 0);
  ASSERT_EQ(Publish(dir_, std::string("data --out data ") + MARLIX_OFFICIAL_SAMPLE).status, 0);
  WriteBytes(dir_ / "Marlix.exe", ProgramFile(1, 1, "1.1"));
  const Ran first = Publish(dir_, "release --key keys/marlix-private.pem --to served --program Marlix.exe --data data");
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(ReadBytes(dir_ / "served/MarlixVer.ini"), "zipver=1.1\r\n");
  for (const char* name : {"postcode.txt", "post.csv", "postver.txt", "Marlix.exe", "MarlixVer.ini", "manifest.txt"}) {
    const std::string n = std::string("served/") + name;
    EXPECT_EQ(Shell(dir_, "openssl dgst -sha256 -verify keys/marlix-public.pem -signature " + n + ".sig " + n).status,
              0)
        << name;
    // The edition's compressed forms are the plain files, and the manifest gives their hashes.
    if (n.find(".txt") == std::string::npos && n.find(".csv") == std::string::npos) continue;
    if (std::string(name) == "manifest.txt") continue;
    EXPECT_EQ(Shell(dir_, "sh -c 'gzip -dc served/editions/1/" + std::string(name) + ".gz | cmp - " + n + "'").status,
              0)
        << name;
    const std::string sha = Shell(dir_, "sha256sum " + n).out.substr(0, 64);
    EXPECT_NE(ReadBytes(dir_ / "served/manifest.txt").find(std::string("file ") + name + " "), std::string::npos);
    EXPECT_NE(ReadBytes(dir_ / "served/manifest.txt").find(sha), std::string::npos) << name;
  }
  EXPECT_EQ(ReadBytes(dir_ / "served/postcode.txt"), ReadBytes(dir_ / "data/postcode.txt"));
  // Each file with its signature, the three data files' gzip forms, the
  // edition's own copy of its manifest, the release lock.
  EXPECT_EQ(Snapshot(dir_ / "served").size(), 18u);

  fs::create_directories(dir_ / "utf8");
  for (const char* name : {"post.csv", "postver.txt"}) fs::copy(dir_ / "data" / name, dir_ / "utf8" / name);
  WriteBytes(dir_ / "utf8/postcode.txt", Convert(ReadBytes(dir_ / "data/postcode.txt"), "UTF-8", "CP949"));
  // Lines the converter would never write: the search reads them, but they are not released.
  const std::pair<const char*, std::string> not_data[] = {
      {"notdata", "06315 a\r\nhello\r\n"},
      {"tab", Convert("06315 a\r\n135-080\t역삼동\r\n", "CP949", "UTF-8")},
      {"joined", Convert("06315 a\r\n06316역삼동\r\n", "CP949", "UTF-8")},
      {"long", "06315 a\r\n06316 " + std::string(249, 'a') + "\r\n"},
  };
  for (const auto& [folder, lines] : not_data) {
    fs::create_directories(dir_ / folder);
    for (const char* name : {"post.csv", "postver.txt"}) fs::copy(dir_ / "data" / name, dir_ / folder / name);
    WriteBytes(dir_ / folder / "postcode.txt", lines);
  }
  WriteBytes(dir_ / "same.exe", ProgramFile(1, 1, "1.1"));
  WriteBytes(dir_ / "older.exe", ProgramFile(1, 0, "1.0"));
  WriteBytes(dir_ / "sorts-before.exe", ProgramFile(1, 2, "1.02"));  // newer, but "1.02" < "1.1" as text
  WriteBytes(dir_ / "page.exe", "<html>not a program</html>");
  fs::copy_file(dir_ / "keys/marlix-private.pem", dir_ / "shared-key.pem");
  fs::permissions(dir_ / "shared-key.pem", fs::perms::others_read, fs::perm_options::add);
  WriteBytes(dir_ / "newer.exe", ProgramFile(1, 2, "1.2"));
  // What others may plant in the served folder (shell words run there): the
  // release signs nothing it did not check, follows no link, and changes
  // nothing, there or elsewhere.
  WriteBytes(dir_ / "attacker.txt", "999-999 ATTACKER DATA\r\n");
  const std::string attacker = "23 " + Shell(dir_, "sha256sum attacker.txt").out.substr(0, 64);
  ASSERT_EQ(Shell(dir_, "openssl ecparam -name prime256v1 -genkey -noout -out other.pem").status, 0);
  ASSERT_EQ(Publish(dir_, "keygen keys2").status, 0);
  fs::create_directories(dir_ / "outside/1");
  WriteBytes(dir_ / "outside/1/keep.txt", "not the publisher's\n");
  const auto outside = Snapshot(dir_ / "outside");
  ASSERT_EQ(Shell(dir_, "cp -a served backup").status, 0);
  const std::string key = "--key keys/marlix-private.pem ";
  const struct {
    std::string args, why, plant = {};
  } refused[] = {
      {"--key shared-key.pem --data data", "chmod 600 shared-key.pem"},
      {"--key keys/marlix-public.pem --program same.exe", "not a PEM private key"},
      {"--key Marlix.exe --data data", "not a PEM private key"},
      {key + "--program same.exe", "not newer than the published 1.1"},
      {key + "--program older.exe --data data", "not newer"},
      {key + "--program sorts-before.exe", "does not sort after the published zipver=1.1"},
      {key + "--program page.exe", "not a Windows program"},
      {key + "--data utf8", "not CP949 text"},
      {key + "--data notdata", "line 2 is not a postcode line"},
      {key + "--data tab", "line 2 is not a postcode line"},
      {key + "--data joined", "line 2 is not a postcode line"},
      {key + "--data long", "line 2 is not a postcode line"},
      {key + "--data nowhere", "cannot be read"},
      {key + "--program newer.exe", "served/manifest.txt: its signature manifest.txt.sig is missing, damaged or not",
       "sed -i '/ postcode.txt /d' manifest.txt && echo 'file postcode.txt " + attacker +
           "' >>manifest.txt && cp ../attacker.txt postcode.txt"},
      {key + "--data data", "not made with the release key",
       "openssl dgst -sha256 -sign ../other.pem -out manifest.txt.sig manifest.txt"},
      {"--key keys2/marlix-private.pem --data data", "not made with the release key"},
      {key + "--program newer.exe", "served/postcode.txt is not what the signed manifest.txt records",
       "cp ../attacker.txt postcode.txt"},
      {key + "--program newer.exe", "served/editions/1/postcode.txt.gz is not what the signed manifest.txt records",
       "gzip -c ../attacker.txt >editions/1/postcode.txt.gz"},
      {key + "--data data", "served/Marlix.exe is not what the signed manifest.txt records",
       "cp ../older.exe Marlix.exe"},
      {key + "--data data", "served/editions: a link where the editions folder should be",
       "mv editions ../moved && ln -s ../outside editions"},
      {key + "--data data", "served/editions/1: a link where an edition should be",
       "mv editions/1 ../moved && ln -s ../../outside editions/1"},
      {key + "--data data", "served/.marlix-publish.lock: a link where the release lock should be",
       "ln -sf ../outside/keep .marlix-publish.lock"},
  };
  for (const auto& [args, why, plant] : refused) {
    if (!plant.empty()) {
      ASSERT_EQ(Shell(dir_ / "served", "{ " + plant + "; }").status, 0) << plant;
    }
    const auto served = Snapshot(dir_ / "served");
    const Ran run = Publish(dir_, "release --to served " + args);
    EXPECT_EQ(run.status, 2) << args;
    EXPECT_NE(run.err.find(why), std::string::npos) << args << ": " << run.err;
    EXPECT_EQ(Snapshot(dir_ / "served"), served) << args;
    EXPECT_EQ(Snapshot(dir_ / "outside"), outside) << args;
    ASSERT_EQ(Shell(dir_, "rm -rf served moved && cp -a backup served").status, 0);
  }
  ASSERT_EQ(Publish(dir_, "release --key keys/marlix-private.pem --to served --program newer.exe").status, 0);
  EXPECT_EQ(ReadBytes(dir_ / "served/MarlixVer.ini"), "zipver=1.2\r\n");
  // A program alone is a new edition that keeps the data's records as they were.
  const std::string manifest = ReadBytes(dir_ / "served/manifest.txt");
  EXPECT_NE(manifest.find("edition 2\n"), std::string::npos) << manifest;
  EXPECT_NE(manifest.find("program Marlix.exe 1.2.0.0 "), std::string::npos) << manifest;
  EXPECT_NE(manifest.find("gzip postcode.txt editions/1/postcode.txt.gz "), std::string::npos) << manifest;
  // A key change: the last release's key vouches for what it left.
  const Ran changed = Publish(dir_,
                              "release --key keys2/marlix-private.pem --previous-key keys/marlix-public.pem "
                              "--to served --data data");
  EXPECT_EQ(changed.status, 0) << changed.err;
  EXPECT_EQ(Publish(dir_, "verify --key keys2/marlix-public.pem served/manifest.txt").status, 0);
}

// Releases go on in a folder others write: old editions are removed without
// a link followed, and only edition folders; the edition's number stays in
// the range every program reads; an earlier edition's file is read within
// the sizes its manifest gives; a second release waits for the one running.
TEST_F(PublishTest, ReleasesRemoveOnlyTheirOwnEditionsAndRunOneAtATime) {
  ASSERT_EQ(Publish(dir_, "keygen keys").status, 0);
  ASSERT_EQ(Publish(dir_, std::string("data --out data ") + MARLIX_OFFICIAL_SAMPLE).status, 0);
  ASSERT_EQ(Shell(dir_, "cp -a data other && sed -i '$d' other/postcode.txt").status, 0);
  const std::string release = "release --key keys/marlix-private.pem --to served --data ";
  for (const char* data : {"data", "other", "data", "other", "data", "other"}) {
    ASSERT_EQ(Publish(dir_, release + data).status, 0);
  }
  auto edition = [&] {
    const std::string manifest = ReadBytes(dir_ / "served/manifest.txt");
    return std::stoull(manifest.substr(manifest.find("\nedition ") + 9));
  };
  ASSERT_EQ(edition(), 6u);
  fs::create_directories(dir_ / "outside");
  WriteBytes(dir_ / "outside/keep.txt", "not the publisher's\n");
  // Not editions: 0, a leading zero, a number past the range. A bomb where
  // edition 6's gzip form was: a few hundred KB that inflate to 300 MB.
  ASSERT_EQ(Shell(dir_ / "served/editions",
                  "{ ln -s ../../outside 0 && ln -s ../../outside 01 && mkdir 00 18446744073709551614 && "
                  "touch 00/keep && head -c 300000000 /dev/zero | gzip -1 >6/postcode.txt.gz; }")
                .status,
            0);
  const auto outside = Snapshot(dir_ / "outside");
  const Ran seventh = Publish(dir_, release + "data");
  ASSERT_EQ(seventh.status, 0) << seventh.err;
  EXPECT_EQ(edition(), 7u);
  EXPECT_NE(seventh.err.find("no delta from edition 6: served/editions/6/postcode.txt.gz is not the file"),
            std::string::npos)
      << seventh.err;
  rusage children{};
  getrusage(RUSAGE_CHILDREN, &children);
  EXPECT_LT(children.ru_maxrss, 200 * 1024) << "KB at the most";
  EXPECT_NE(ReadBytes(dir_ / "served/manifest.txt").find("editions/7/postcode.txt.from-4.delta.gz"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir_ / "served/editions/1"));
  EXPECT_TRUE(fs::exists(dir_ / "served/editions/2"));
  EXPECT_EQ(Snapshot(dir_ / "outside"), outside);
  for (const char* kept : {"0", "01", "00/keep", "18446744073709551614"}) {
    EXPECT_TRUE(fs::exists(fs::symlink_status(dir_ / "served/editions" / kept))) << kept;
  }

  // The last edition number taken: the next would be one no program reads.
  fs::create_directories(dir_ / "served/editions/999999999");
  const auto served = Snapshot(dir_ / "served");
  const Ran past = Publish(dir_, release + "other");
  EXPECT_EQ(past.status, 2);
  EXPECT_NE(past.err.find("edition 1000000000 would not read back as the programs read it"), std::string::npos)
      << past.err;
  EXPECT_EQ(Snapshot(dir_ / "served"), served);
  fs::remove(dir_ / "served/editions/999999999");

  // A release that finds the lock held waits, then goes on from what the
  // holder left; two at once both publish, one edition each.
  const Ran waited = Shell(dir_,
                           "{ flock served/.marlix-publish.lock sh -c 'touch held; sleep 1' & "
                           "while [ ! -e held ]; do sleep 0.05; done; '" MARLIX_PUBLISH_EXE "' " +
                               release + "other; }");
  EXPECT_EQ(waited.status, 0) << waited.err;
  EXPECT_NE(waited.err.find("another release into served is running"), std::string::npos) << waited.err;
  EXPECT_EQ(edition(), 8u);
  const std::string twice = "'" MARLIX_PUBLISH_EXE "' " + release;
  const Ran both = Shell(dir_, "{ " + twice + "data & " + twice + "other; one=$?; wait $! && exit $one; }");
  EXPECT_EQ(both.status, 0) << both.err;
  EXPECT_EQ(edition(), 10u);
  EXPECT_TRUE(fs::exists(dir_ / "served/editions/9/manifest.txt"));
}

}  // namespace
