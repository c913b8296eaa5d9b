// Marlix.exe held to data files it was never meant to get, to a data file of
// a gigabyte and one of the national data's size, and to long use: the search
// window open for thousands of banner steps and searches, and the program
// opening and closing it again and again. What it holds (GDI objects, USER
// objects, private bytes) must stay flat.
//
// The long counts run with MARLIX_SOAK=full (scripts/soak); without it each
// soak runs a shorter course of the same steps. Each test prints its figures
// as rows of a table ("| ..."), which scripts/soak collects.
#include <windows.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "answer_watch_win.h"
#include "gdi_count_win.h"
#include "marlix_driver_win.h"
#include "postcode_search.h"
#include "resource.h"
#include "search_window.h"

namespace {

using namespace marlix_test;

constexpr double kMB = 1024.0 * 1024.0;

bool FullSoak() {
  const char* soak = std::getenv("MARLIX_SOAK");
  return soak && std::string_view(soak) == "full";
}

double Seconds(ULONGLONG since) { return static_cast<double>(::GetTickCount64() - since) / 1000.0; }

struct Figures {
  long gdi = 0;
  long user = 0;
  SIZE_T private_bytes = 0;
};

Figures Measure(HANDLE process) {
  return {gdi_count::Objects(process), gdi_count::UserObjects(process), PrivateBytes(process)};
}

// Start, end and peak of the figures over a run.
struct Course {
  Figures start, end, peak;
  void Begin(const Figures& f) { start = end = peak = f; }
  void Add(const Figures& f) {
    end = f;
    peak.gdi = std::max(peak.gdi, f.gdi);
    peak.user = std::max(peak.user, f.user);
    peak.private_bytes = std::max(peak.private_bytes, f.private_bytes);
  }
};

void PrintHeader() {
  std::printf("| run | GDI start/end/peak | USER start/end/peak | private MB start/end/peak | seconds |\n");
  std::printf("|---|---|---|---|---|\n");
}

void PrintCourse(const char* run, const Course& c, double seconds) {
  std::printf("| %s | %ld / %ld / %ld | %ld / %ld / %ld | %.1f / %.1f / %.1f | %.1f |\n", run, c.start.gdi, c.end.gdi,
              c.peak.gdi, c.start.user, c.end.user, c.peak.user, static_cast<double>(c.start.private_bytes) / kMB,
              static_cast<double>(c.end.private_bytes) / kMB, static_cast<double>(c.peak.private_bytes) / kMB, seconds);
  std::fflush(stdout);
}

// The figures stayed flat: no object more at the end than at the start, and
// the private bytes within `slack` of where they began.
void ExpectFlat(const Course& c, SIZE_T slack) {
  EXPECT_GT(c.start.gdi, 0) << "the GDI count sees nothing";
  EXPECT_GT(c.start.user, 0) << "the USER count sees nothing";
  EXPECT_GT(c.start.private_bytes, 0u) << "the private bytes are not told";
  EXPECT_LE(c.end.gdi, c.start.gdi) << "GDI objects leak";
  EXPECT_LE(c.end.user, c.start.user) << "USER objects leak";
  EXPECT_LE(c.end.private_bytes, c.start.private_bytes + slack) << "private bytes grow";
}

// Samples the peak private bytes of a process meanwhile.
class Sampler {
 public:
  Sampler(HANDLE process, Course& course)
      : every_(5, [process, &course] {
          course.peak.private_bytes = std::max(course.peak.private_bytes, PrivateBytes(process));
        }) {}

 private:
  Every every_;
};

std::vector<std::wstring> NoDataRows() { return {Wide(marlix::kNoDataRows[0]), Wide(marlix::kNoDataRows[1])}; }

std::vector<std::wstring> Listed(const std::vector<std::string>& lines) {
  std::vector<std::wstring> wide;
  for (const std::string& line : lines) wide.push_back(DataWide(line));
  return wide;
}

// Writes the data file from the blocks `next` fills, until it leaves one
// empty; false when the file cannot be written.
bool WriteDataBlocks(const std::function<void(std::string&)>& next) {
  ::CreateDirectoryA(kDataDir, nullptr);
  ::SetFileAttributesA(kDataFile, FILE_ATTRIBUTE_NORMAL);
  HANDLE file = ::CreateFileA(kDataFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  std::string block;
  for (next(block); ok && !block.empty(); next(block)) {
    DWORD written = 0;
    ok =
        ::WriteFile(file, block.data(), static_cast<DWORD>(block.size()), &written, nullptr) && written == block.size();
  }
  ::CloseHandle(file);
  return ok;
}

void WriteDataFile(const std::string& bytes) {
  bool given = false;
  ASSERT_TRUE(WriteDataBlocks([&](std::string& block) {
    block = given ? std::string() : bytes;
    given = true;
  }));
}

// The tests here change the data file; the next test finds the real one again.
class LoadedWindow : public FreshSearchWindow {
 protected:
  void TearDown() override {
    FreshSearchWindow::TearDown();
    InstallRealData();
  }

  // How long the window takes to answer a message; -1 when it does not
  // answer within the bound.
  double AnswerMs(UINT bound_ms) { return WindowAnswerMs(dialog(), bound_ms); }
};

// One search of a bad file and what the list must show after it.
struct Probe {
  int tab;   // 0 simple, 1 composite
  int kind;  // combo index: 0 name / AND, 1 postcode / OR
  std::string term1, term2;
  std::vector<std::string> listed;  // nothing: the two no-data rows
  // What selecting the first row copies in the code and then the address
  // copy mode; nothing: no copy is tried.
  std::vector<std::string> copied = {};
};

struct BadFile {
  const char* name;
  std::string bytes;
  std::vector<Probe> probes;
};

const std::string kLine1 = Cp949("135-806 서울 강남구 개포1동 경남아파트");
const std::string kLine2 = Cp949("135-807 서울 강남구 개포1동 우성3차아파트 (1∼6동)");
const std::string kLine3 = Cp949("135-770 서울 강남구 개포1동 주공아파트 (1∼16동)");

std::vector<BadFile> BadFiles() {
  using S = std::string;
  const Probe every{1, 1, "", "", {}};  // OR with empty terms: the file's every line
  std::vector<BadFile> files;

  files.push_back({"empty", "", {{0, 1, "135806", "", {}}, {0, 0, "개포1동", "", {}}, every}});

  // The last line, without its line feed, is a line all the same.
  files.push_back({"no final line feed",
                   kLine1 + "\r\n" + kLine2 + "\r\n" + kLine3,
                   {{0, 1, "135770", "", {kLine3}},
                    {0, 0, "주공아파트", "", {kLine3}},
                    {every.tab, every.kind, "", "", {kLine1, kLine2, kLine3}}}});

  // Only a line feed ends a line: a file of CR line ends is one line, listed
  // whole with its CRs, and it begins with the first entry's code only.
  const S cr_only = kLine1 + "\r" + kLine2 + "\r" + kLine3 + "\r";
  files.push_back({"CR-only line ends",
                   cr_only,
                   {{0, 1, "135806", "", {cr_only}},
                    {0, 1, "135770", "", {}},
                    {0, 0, "주공아파트", "", {cr_only}},
                    {every.tab, every.kind, "", "", {cr_only}}}});

  // Lines past the format's 254 bytes stay whole: a word at their end is
  // found, and what follows the line is the next line, not its tail.
  S long_line = Cp949("135-806 서울 강남구 개포1동 ");
  while (long_line.size() < 294) long_line += Cp949("가");
  long_line += Cp949(" 끝말");
  S long_line2 = long_line;
  long_line2.replace(0, 7, "135-807");
  files.push_back({"300-byte lines",
                   long_line + "\r\n" + long_line2 + "\n" + kLine3 + "\r\n",
                   {{0, 0, "끝말", "", {long_line, long_line2}},
                    {0, 1, "135807", "", {long_line2}},
                    {0, 1, "135770", "", {kLine3}},
                    {every.tab, every.kind, "", "", {long_line, long_line2, kLine3}}}});

  // A NUL ends what is listed of its line; the line itself still ends at its
  // line feed, so nothing after the NUL turns into a line of its own.
  const S nul_line = S(Cp949("135-806 서울 강남구")) + '\0' + Cp949("135-999 숨은동");
  files.push_back({"NUL bytes",
                   nul_line + "\r\n" + kLine2 + "\r\n" + S(3, '\0') + "\r\n" + kLine3 + "\r\n",
                   {{0, 0, "숨은동", "", {}},
                    {0, 1, "135999", "", {}},
                    {0, 1, "135806", "", {Cp949("135-806 서울 강남구")}},
                    {0, 0, "주공아파트", "", {kLine3}},
                    {every.tab, every.kind, "", "", {Cp949("135-806 서울 강남구"), kLine2, "", kLine3}}}});

  // Both line forms in one file, each judged by itself: a five-digit line is
  // found by its code however it is typed and by the words of its road or
  // lot address, which begins at byte 6, and its code copies as five digits.
  const S five1 = Cp949("06315 서울특별시 강남구 논현로8길 67 (개포동, Artespace) 개포동 1183-10");
  const S five2 = Cp949("06316 서울특별시 강남구 개포로 1 (개포동) 개포동 12");
  const S five3 = Cp949("06326 서울특별시 강남구 개포로 109 (개포동, 주공아파트) 개포동 660-1");
  files.push_back({"both line forms",
                   kLine1 + "\r\n" + five1 + "\r\n" + kLine3 + "\r\n" + five2 + "\n" + five3 + "\r\n",
                   {{0, 1, "06315", "", {five1}, {"06315", five1.substr(6)}},
                    {0, 1, "063-15", "", {five1}},
                    {0, 1, "063", "", {five1, five2, five3}},
                    {0, 1, "135806", "", {kLine1}, {"135-806", kLine1.substr(8)}},
                    {0, 0, "논현로8길 67", "", {five1}},
                    {0, 0, "개포로 109", "", {five3}},
                    {0, 0, "개포동 1183-10", "", {five1}, {"06315", five1.substr(6)}},
                    {0, 0, "개포동", "", {five1, five2, five3}},
                    // A code among a name search's words (a pasted address) finds its lines.
                    {0, 0, "06315", "", {five1}},
                    {every.tab, every.kind, "", "", {kLine1, five1, kLine3, five2, five3}}}});

  // A lone lead byte takes the byte after it as its second half: a word right
  // behind it is not on a character boundary, one behind a space is. A lead
  // byte just before a line end or the file's end takes neither, and is left
  // out of the list (handed to it, it would take the string's end for its
  // second half).
  const S lead_at_end = Cp949("135-806 개포") + "\xB0";
  const S lead_space = Cp949("135-807 ") + "\xB0" + Cp949(" 개포1동");
  const S lead_word = Cp949("135-770 ") + "\xB0" + Cp949("개포1동");
  const S lead_at_eof = Cp949("135-966 개포") + "\xC7";
  files.push_back(
      {"invalid CP949",
       lead_at_end + "\r\n" + lead_space + "\n" + lead_word + "\r\n" + lead_at_eof,
       {{0, 1, "135806", "", {Cp949("135-806 개포")}},
        {0, 0, "개포1동", "", {lead_space}},
        {0, 1, "135966", "", {Cp949("135-966 개포")}},
        {every.tab, every.kind, "", "", {Cp949("135-806 개포"), lead_space, lead_word, Cp949("135-966 개포")}}}});
  return files;
}

// Each bad file, and one of both line forms, through the real window: every
// search ends, lists what the program's reading of the file gives (and copies
// what it should), and the window answers at once after it.
TEST_F(LoadedWindow, BadDataFilesAreSearchedToTheEndAndTheWindowAnswers) {
  constexpr UINT kAnswerBoundMs = 1000;
  std::printf("| bad file | searches | slowest search ms | slowest answer ms |\n|---|---|---|---|\n");
  for (const BadFile& file : BadFiles()) {
    SCOPED_TRACE(file.name);
    WriteDataFile(file.bytes);
    double slowest_search = 0, slowest_answer = 0;
    for (const Probe& probe : file.probes) {
      SCOPED_TRACE(probe.term1);
      if (Tab() != probe.tab) SelectTab(probe.tab);
      const ULONGLONG start = ::GetTickCount64();
      if (probe.tab == 0) {
        SimpleSearch(probe.kind, probe.term1);
      } else {
        CompositeSearch(probe.kind, probe.term1, probe.term2);
      }
      slowest_search = std::max(slowest_search, Seconds(start) * 1000);
      ASSERT_TRUE(Running()) << "Marlix ended";
      const double answer = AnswerMs(kAnswerBoundMs);
      EXPECT_GE(answer, 0) << "no answer within " << kAnswerBoundMs << " ms";
      slowest_answer = std::max(slowest_answer, answer);
      EXPECT_EQ(ListItems(), probe.listed.empty() ? NoDataRows() : Listed(probe.listed));
      if (!probe.copied.empty()) {
        PostCommand(ID_COPY_POSTCODE);
        EXPECT_EQ(Select(0), probe.copied[0]);
        PostCommand(ID_COPY_ADDRESS);
        EXPECT_EQ(Select(0), probe.copied[1]);
      }
    }
    EXPECT_LT(slowest_search, 5000);
    std::printf("| %s | %zu | %.0f | %.1f |\n", file.name, file.probes.size(), slowest_search, slowest_answer);
  }
}

// A data file of hundreds of megabytes, written in large blocks and deleted
// when the test ends, however it ends.
class LargeDataFile {
 public:
  explicit LargeDataFile(Marlix& marlix) : marlix_(marlix) {}
  LargeDataFile(const LargeDataFile&) = delete;
  LargeDataFile& operator=(const LargeDataFile&) = delete;
  ~LargeDataFile() {
    marlix_.End();  // a search still running would hold the file open
    ::DeleteFileA(kDataFile);
  }

 private:
  Marlix& marlix_;
};

// The real data over and over, a gigabyte of it.
class GigabyteDataFile : public LargeDataFile {
 public:
  using LargeDataFile::LargeDataFile;

  // Writes the file; the number of copies of the real data in it.
  int Write() {
    std::string copies_block;
    while (copies_block.size() < 8 * 1024 * 1024) copies_block += RealData();
    const int copies_per_block = static_cast<int>(copies_block.size() / RealData().size());
    int copies = 0;
    ULONGLONG bytes = 0;
    const bool written = WriteDataBlocks([&](std::string& block) {
      block.clear();
      if (bytes >= (1ULL << 30)) return;
      block = copies_block;
      bytes += block.size();
      copies += copies_per_block;
    });
    return written ? copies : 0;
  }
};

// A gigabyte is read through in one pass with fixed buffers: the search ends
// in seconds, lists every copy of the matching lines, and the program's private
// bytes do not follow the file's size; at their peak they may hold the list's
// storage set aside up front, which is only ever room for the rows of a cut
// result (some 4 MB) whatever the file's size.
TEST_F(LoadedWindow, AGigabyteFileIsSearchedInBoundedMemory) {
  constexpr SIZE_T kListReserveCap = 16 * 1024 * 1024;
  std::vector<std::string> real_hits;
  for (std::size_t at = 0; (at = RealData().find("135-806 ", at)) != std::string::npos; ++at) {
    if (at == 0 || RealData()[at - 1] == '\n') {
      real_hits.push_back(RealData().substr(at, RealData().find('\r', at) - at));
    }
  }
  ASSERT_FALSE(real_hits.empty());

  SimpleSearch(1, "1358");  // what the first long list loads is in the start figures
  GigabyteDataFile huge(*this);
  ULONGLONG start = ::GetTickCount64();
  const int copies = huge.Write();
  ASSERT_GT(copies, 0) << "cannot write the file";
  const double write_seconds = Seconds(start);

  Course course;
  course.Begin(Measure(process()));
  double code_seconds = 0, miss_seconds = 0;
  int listed = 0;
  {
    Sampler sampler(process(), course);
    start = ::GetTickCount64();
    SimpleSearch(1, "135806");
    code_seconds = Seconds(start);
    listed = ListCount();
    ASSERT_EQ(listed, copies * static_cast<int>(real_hits.size()));
    EXPECT_EQ(ListItem(0), DataWide(real_hits.front()));
    EXPECT_EQ(ListItem(ListCount() - 1), DataWide(real_hits.back()));
    start = ::GetTickCount64();
    SimpleSearch(0, "없는동네이름");
    miss_seconds = Seconds(start);
    EXPECT_EQ(ListItems(), NoDataRows());
  }
  course.Add(Measure(process()));
  EXPECT_GE(AnswerMs(1000), 0) << "no answer within a second after the search";

  std::printf(
      "| 1 GB file | copies of the real data | written in s | lines found for 135806 | in s | "
      "search with no match s |\n|---|---|---|---|---|---|\n");
  std::printf("| %.2f GB | %d | %.1f | %d | %.1f | %.1f |\n",
              static_cast<double>(copies * RealData().size()) / (kMB * 1024), copies, write_seconds, listed,
              code_seconds, miss_seconds);
  PrintHeader();
  PrintCourse("1 GB searches", course, code_seconds + miss_seconds);
  RecordProperty("gigabyte_code_search_ms", static_cast<int>(code_seconds * 1000));
  RecordProperty("gigabyte_miss_search_ms", static_cast<int>(miss_seconds * 1000));
  // On Windows the list's storage set aside up front is in the private bytes
  // (Wine counts only the pages touched, so there the bound is far off).
  EXPECT_LE(course.peak.private_bytes, course.start.private_bytes + kListReserveCap + 16 * 1024 * 1024);
  EXPECT_LE(course.end.private_bytes, course.start.private_bytes + 16 * 1024 * 1024);
  EXPECT_LT(code_seconds, 60);
  EXPECT_LT(miss_seconds, 60);
}

// The national file's size in today's line form, made from the real lines:
// each code's first five digits (135-806 gives 13580), the address as it is,
// then a filler and the line's serial number of seven digits, which make a
// line of some 95 bytes. 123 copies of the real data give 6.4 million lines.
class NationalDataFile : public LargeDataFile {
 public:
  using LargeDataFile::LargeDataFile;
  static constexpr int kNationalCopies = 123;

  // Writes the file; the number of lines in it, 0 when it cannot be written.
  std::size_t Write(int copies) {
    std::vector<std::string_view> real;
    std::string_view data = RealData();
    for (std::size_t at = 0, end; (end = data.find("\r\n", at)) != std::string_view::npos; at = end + 2) {
      real.push_back(data.substr(at, end - at));
    }
    std::size_t serial = 0;
    int copy = 0;
    const bool written = WriteDataBlocks([&](std::string& block) {
      block.clear();
      if (copy++ == copies) return;
      const std::string note = Cp949(" (전국 크기 시험 자료, 가나다라마바빌딩 뒤편) 일련");
      for (std::string_view line : real) {
        char tail[32];
        std::snprintf(tail, sizeof tail, " %07zu\r\n", serial++);
        block.append(line.substr(0, 3)).append(line.substr(4, 2)).append(line.substr(7));
        block.append(note).append(tail);
      }
    });
    return written ? serial : 0;
  }
};

// What the user does while a search of every line runs, and what must follow.
enum class AfterInterruption { kReplaced, kEmptied, kWindowGone, kProgramEnded };

// A file of the national data's size through the real window: each search
// lists what the program's core finds, in file order, and a result of every
// line is cut with a row that tells how many more matched; the window answers
// throughout, and whatever the user does while a long search runs replaces or
// ends it at once, with nothing listed twice. The full course writes the
// national size, the short one an eighth of it.
TEST_F(LoadedWindow, ANationalSizeFileIsListedWhileTheWindowAnswers) {
  const bool national_size = FullSoak();
  const int copies = national_size ? NationalDataFile::kNationalCopies : NationalDataFile::kNationalCopies / 8;
  NationalDataFile file(*this);
  ULONGLONG start = ::GetTickCount64();
  const std::size_t lines = file.Write(copies);
  ASSERT_GT(lines, 0u) << "cannot write the file";
  const double write_seconds = Seconds(start);
  WIN32_FILE_ATTRIBUTE_DATA attributes{};
  ASSERT_TRUE(::GetFileAttributesExA(kDataFile, GetFileExInfoStandard, &attributes));
  const double file_mb =
      static_cast<double>((ULONGLONG{attributes.nFileSizeHigh} << 32) | attributes.nFileSizeLow) / kMB;

  auto start_search = [&](int tab, std::string_view kind, std::string_view term1, std::string_view term2) {
    if (Tab() != tab) SelectTab(tab);
    ::SendMessageW(Item(IDC_KIND_COMBO), CB_SETCURSEL, marlix::LayoutForMode(tab)->combo_items[0] == kind ? 0 : 1, 0);
    SetText(IDC_FIRST_TERM, term1);
    SetText(IDC_SECOND_TERM, term2);
  };
  // What the core finds: the lines the window lists, and how many match.
  struct Found {
    std::vector<std::string> listed;
    std::size_t matches = 0;
  };
  auto core = [](int tab, std::string_view kind, std::string_view term1, std::string_view term2) {
    Found found;
    auto collect = [&](std::string_view line) {
      if (found.matches++ < marlix::kMostListed) found.listed.emplace_back(line);
    };
    const std::string bytes1 = Cp949(term1), bytes2 = Cp949(term2);  // typed, then searched as the data's bytes
    marlix::SearchFile(
        kDataFile, marlix::RequestFromWindow(tab, kind, marlix::Cp949View(bytes1), marlix::Cp949View(bytes2)), collect);
    return found;
  };
  // The rows the window shows for what the core found: every row of a short
  // list, every 997th of a long one, and the last.
  auto expect_rows = [&](const Found& found) {
    const std::optional<std::string> cut = marlix::UnlistedRow(found.matches);
    ASSERT_EQ(ListCount(), static_cast<int>(found.listed.size() + (cut ? 1 : 0)));
    const std::size_t stride = found.listed.size() > 10000 ? 997 : 1;
    for (std::size_t i = 0; i < found.listed.size(); i += stride) {
      ASSERT_EQ(ListItem(static_cast<int>(i)), DataWide(found.listed[i])) << "row " << i;
    }
    if (!found.listed.empty()) {
      EXPECT_EQ(ListItem(static_cast<int>(found.listed.size() - 1)), DataWide(found.listed.back()));
    }
    if (cut) {
      EXPECT_EQ(ListItem(static_cast<int>(found.listed.size())), Wide(*cut));
    }
  };

  struct Run {
    const char* name;
    int tab;
    std::string_view kind;
    const char* term1;
    const char* term2;
    double bound_seconds;  // from 검색 to the full list
  };
  const Run runs[] = {
      {"one match (words: a serial number)", 0, marlix::kKindName, "0777777", "", 0.5},
      {"one code (43083)", 0, marlix::kKindPostcode, "43083", "", 1.0},
      {"every line (OR, empty terms)", 1, marlix::kOperatorOr, "", "", 20.0},
  };
  std::printf(
      "| %.0f MB file, %zu lines, written in %.1f s | lines found | rows listed | to the full list s | "
      "longest without an answer ms | private MB before / peak |\n|---|---|---|---|---|---|\n",
      file_mb, lines, write_seconds);
  for (const Run& run : runs) {
    SCOPED_TRACE(run.name);
    const Found found = core(run.tab, run.kind, run.term1, run.term2);
    ASSERT_GT(found.matches, 0u);
    if (run.tab == 1) {
      ASSERT_EQ(found.matches, lines);
    }
    start_search(run.tab, run.kind, run.term1, run.term2);
    Settle();
    Course course;
    course.Begin(Measure(process()));
    double seconds = 0, unanswered_ms = 0;
    {
      Sampler sampler(process(), course);
      AnswerWatch watch(dialog());
      start = ::GetTickCount64();
      Click(IDC_SEARCH);
      seconds = Seconds(start);
      unanswered_ms = watch.Finish();
    }
    expect_rows(found);
    std::printf("| %s | %zu | %d | %.2f | %.0f | %.1f / %.1f |\n", run.name, found.matches, ListCount(), seconds,
                unanswered_ms, static_cast<double>(course.start.private_bytes) / kMB,
                static_cast<double>(course.peak.private_bytes) / kMB);
    std::fflush(stdout);
    EXPECT_LT(seconds, run.bound_seconds);
    EXPECT_LT(unanswered_ms, 1000);
    // The list holds at most the cut's rows: a few tens of megabytes.
    EXPECT_LE(course.peak.private_bytes, course.start.private_bytes + 96 * 1024 * 1024);
  }

  // A key posted without waiting for it, so that the time taken is the window's.
  auto post_key = [&](int id, WPARAM vk) {
    ::PostMessageA(Item(id), WM_KEYDOWN, vk, 1);
    ::PostMessageA(Item(id), WM_KEYUP, vk, 0xC0000001);
  };
  struct Interruption {
    const char* what;
    std::function<void()> act;
    AfterInterruption after;
  };
  const Found replacement = core(1, marlix::kOperatorAnd, "0777777", "");
  const Interruption interruptions[] = {
      {"a new search",
       [&] {
         start_search(1, marlix::kOperatorAnd, "0777777", "");
         ::PostMessageA(Item(IDC_SEARCH), BM_CLICK, 0, 0);
       },
       AfterInterruption::kReplaced},
      {"another tab", [&] { post_key(IDC_MODE_TAB, VK_LEFT); }, AfterInterruption::kEmptied},
      {"Escape", [&] { post_key(IDC_FIRST_TERM, VK_ESCAPE); }, AfterInterruption::kWindowGone},
      {"the close box", [&] { ::PostMessageA(dialog(), WM_SYSCOMMAND, SC_CLOSE, 0); }, AfterInterruption::kWindowGone},
      {"exit from the window's menu", [&] { ::PostMessageA(dialog(), WM_COMMAND, ID_EXIT, 0); },
       AfterInterruption::kProgramEnded},
      {"exit from the icon's menu", [&] { ::PostMessageA(frame(), WM_COMMAND, ID_EXIT, 0); },
       AfterInterruption::kProgramEnded},
  };
  // How long after `since` the search let the data file go: Marlix reads it
  // with others allowed to read and write but not to hold it alone.
  auto file_let_go_ms = [](ULONGLONG since) {
    for (const ULONGLONG deadline = since + kWaitMs; ::GetTickCount64() < deadline; ::Sleep(2)) {
      HANDLE alone = ::CreateFileA(kDataFile, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (alone != INVALID_HANDLE_VALUE) {
        ::CloseHandle(alone);
        break;
      }
    }
    return Seconds(since) * 1000;
  };
  std::printf("| while every line is listed | rows by then | the search ended in ms |\n|---|---|---|\n");
  for (const Interruption& interruption : interruptions) {
    SCOPED_TRACE(interruption.what);
    double ended_ms = 0;
    if (!Running()) {
      End();
      ASSERT_TRUE(StartWithSearchWindow(kNoServer));
    } else if (!::IsWindow(dialog())) {
      ClickIcon();
      ASSERT_TRUE(WaitForSearchWindow());
    }
    // The list starts from the no-data rows, so that the rows awaited below
    // are this search's and not those the last one left.
    start_search(1, marlix::kOperatorAnd, "없는", "동네");
    Click(IDC_SEARCH);
    for (const ULONGLONG deadline = ::GetTickCount64() + kWaitMs; ListCount() != 2 || ListItem(1) != NoDataRows()[1];) {
      ASSERT_LT(::GetTickCount64(), deadline) << "the no-data rows do not come";
      ::Sleep(5);
    }
    start_search(1, marlix::kOperatorOr, "", "");
    ::PostMessageA(Item(IDC_SEARCH), BM_CLICK, 0, 0);
    // Rows are coming, and the cut row that ends the list is not there yet.
    for (const ULONGLONG deadline = ::GetTickCount64() + kWaitMs; ListCount() == 0 || ListItem(0) == NoDataRows()[0];) {
      ASSERT_LT(::GetTickCount64(), deadline) << "no rows come";
      ::Sleep(5);
    }
    ASSERT_LE(ListCount(), static_cast<int>(marlix::kMostListed)) << "the search ended before it was interrupted";
    const int rows = ListCount();
    HWND window = dialog();
    const ULONGLONG acted = ::GetTickCount64();
    interruption.act();
    switch (interruption.after) {
      case AfterInterruption::kReplaced: {
        // The new search lists its lines once the old one has given way; a
        // row of the old one left in the list would never let the count match.
        for (const ULONGLONG deadline = ::GetTickCount64() + kWaitMs;
             ListCount() != static_cast<int>(replacement.listed.size()) ||
             ListItem(0) != DataWide(replacement.listed[0]);) {
          ASSERT_LT(::GetTickCount64(), deadline) << "the new search's lines do not come: " << ListCount() << " rows";
          ::Sleep(20);
        }
        ended_ms = Seconds(acted) * 1000;
        ::Sleep(300);
        Settle();
        expect_rows(replacement);
        break;
      }
      case AfterInterruption::kEmptied:
        ended_ms = file_let_go_ms(acted);
        ::Sleep(300);
        Settle();
        EXPECT_EQ(Tab(), 0);
        EXPECT_EQ(ListCount(), 0);
        break;
      case AfterInterruption::kWindowGone:
        ended_ms = file_let_go_ms(acted);
        EXPECT_TRUE(WaitWindowGone(window));
        EXPECT_TRUE(Running());
        break;
      case AfterInterruption::kProgramEnded:
        EXPECT_EQ(WaitExit(), std::optional<DWORD>(0));
        ended_ms = Seconds(acted) * 1000;
        break;
    }
    std::printf("| %s | %d | %.0f |\n", interruption.what, rows, ended_ms);
    std::fflush(stdout);
    // It gives way at its next step; the window's own end takes longer.
    if (interruption.after != AfterInterruption::kProgramEnded) {
      EXPECT_LT(ended_ms, 1000);
    }
    if (::IsWindow(window)) {
      EXPECT_GE(AnswerMs(1000), 0) << "no answer within a second afterwards";
    }
  }
}

// Hours of use in one window: banner steps (the timer's message, sent) and
// searches of every kind in both search modes.
TEST_F(LoadedWindow, BannerStepsAndSearchesHoldNothingMore) {
  const int steps = FullSoak() ? 10000 : 500;
  const int searches = FullSoak() ? 2000 : 100;
  struct Term {
    int tab, kind;
    const char* term1;
    const char* term2;
  };
  const Term terms[] = {
      {0, 1, "135806", ""},   {0, 1, "1358", ""},         {0, 1, "619-96", ""},         {0, 0, "개포1동", ""},
      {0, 0, "역삼동", ""},   {0, 0, "아파트 개포", ""},  {0, 0, "없는동네", ""},       {1, 0, "개포", "135-"},
      {1, 1, "역삼", "개포"}, {1, 0, "강남구", "아파트"}, {1, 1, "619-961", "339-001"}, {1, 0, "없는", "동네"},
  };
  auto search = [&](const Term& t) {
    if (Tab() != t.tab) SelectTab(t.tab);
    if (t.tab == 0) {
      SimpleSearch(t.kind, t.term1);
    } else {
      CompositeSearch(t.kind, t.term1, t.term2);
    }
  };
  auto step = [&] { ::SendMessageA(dialog(), WM_TIMER, 1, 0); };
  // Every frame and every search once, so that what is loaded on first use
  // is in the start figures.
  for (int i = 0; i < 5; ++i) step();
  for (const Term& t : terms) search(t);
  Settle();

  Course course;
  course.Begin(Measure(process()));
  const ULONGLONG start = ::GetTickCount64();
  int stepped = 0;
  for (int i = 0; i < searches; ++i) {
    search(terms[i % std::size(terms)]);
    for (; stepped < (i + 1) * steps / searches; ++stepped) step();
    if (i % 50 == 49) course.Add(Measure(process()));
    ASSERT_TRUE(Running());
  }
  Settle();
  course.Add(Measure(process()));
  const double seconds = Seconds(start);

  char run[96];
  std::snprintf(run, sizeof run, "search window: %d banner steps, %d searches", stepped, searches);
  PrintHeader();
  PrintCourse(run, course, seconds);
  ExpectFlat(course, 2 * 1024 * 1024);
  EXPECT_LE(course.peak.private_bytes, course.start.private_bytes + 8 * 1024 * 1024);
}

// The program in the notification area, its search window opened from the
// icon and closed with Escape again and again.
TEST(TrayProgramSoak, OpeningAndClosingTheWindowHoldsNothingMore) {
  InstallRealData();
  const int cycles = FullSoak() ? 200 : 40;
  Marlix marlix;
  {
    // Xvfb has no window manager, and Wine waits two seconds for one to take
    // each closing window away; unmanaged windows close at once. The setting
    // is read when Marlix starts.
    constexpr char kX11Key[] = "Software\\Wine\\X11 Driver";
    ASSERT_EQ(::RegSetKeyValueA(HKEY_CURRENT_USER, kX11Key, "Managed", REG_SZ, "N", 2), ERROR_SUCCESS);
    const auto started = marlix.Start(kNoServer);
    const auto framed = started ? marlix.WaitForFrame() : started;
    HKEY key;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, kX11Key, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
      ::RegDeleteValueA(key, "Managed");
      ::RegCloseKey(key);
    }
    ASSERT_TRUE(framed);
  }
  const char* const terms[] = {"개포1동", "역삼동", "아파트", "없는동네"};
  auto cycle = [&](int i) {
    marlix.ClickIcon();
    ASSERT_TRUE(marlix.WaitForSearchWindow());
    HWND window = marlix.dialog();
    marlix.SimpleSearch(0, terms[i % std::size(terms)]);
    marlix.PostKey(IDC_FIRST_TERM, VK_ESCAPE);
    ASSERT_TRUE(marlix.WaitWindowGone(window));
    DWORD_PTR ignored;  // the frame is back from the window's modal run
    ASSERT_TRUE(::SendMessageTimeoutA(marlix.frame(), WM_NULL, 0, 0, SMTO_NORMAL, kWaitMs, &ignored));
  };
  // Each search once: Wine keeps what it draws a long list with the first
  // time it does.
  for (int i = 0; i < static_cast<int>(std::size(terms)); ++i) cycle(i);

  Course course;
  course.Begin(Measure(marlix.process()));
  const ULONGLONG start = ::GetTickCount64();
  for (int i = 0; i < cycles; ++i) {
    ASSERT_NO_FATAL_FAILURE(cycle(i));
    if (i % 10 == 9) course.Add(Measure(marlix.process()));
  }
  course.Add(Measure(marlix.process()));
  const double seconds = Seconds(start);

  char run[96];
  std::snprintf(run, sizeof run, "tray program: %d window open/close cycles", cycles);
  PrintHeader();
  PrintCourse(run, course, seconds);
  ExpectFlat(course, 2 * 1024 * 1024);
  EXPECT_LE(course.peak.private_bytes, course.start.private_bytes + 8 * 1024 * 1024);
}

}  // namespace
