// The search window's decisions, without a window: where Enter and Tab go,
// what each mode shows, the banner cycle and the list's sideways extent.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "postcode_search.h"
#include "resource.h"
#include "search_window.h"
#include "search_worker.h"

namespace {

using marlix::Cp949View;
using marlix::KeyAction;
using marlix::RoutedKey;

// Follows Tab from a control the way the window would, standard dialog
// navigation standing in for the search button (on to the list).
std::vector<int> TabCycle(int start, int tab) {
  std::vector<int> seen{start};
  int at = start;
  for (int i = 0; i < 6; ++i) {
    if (at == IDC_SEARCH) {
      at = IDC_RESULT_LIST;
    } else {
      const marlix::KeyRoute route = marlix::RouteKey(RoutedKey::kTab, at, tab);
      EXPECT_EQ(route.action, KeyAction::kMoveFocus) << at;
      at = route.focus_id;
    }
    if (at == start) break;
    seen.push_back(at);
  }
  return seen;
}

TEST(KeyRouting, TabCyclesThroughTheSearchRowOfEachMode) {
  EXPECT_EQ(TabCycle(IDC_KIND_COMBO, 0),
            (std::vector<int>{IDC_KIND_COMBO, IDC_FIRST_TERM, IDC_SEARCH, IDC_RESULT_LIST}));
  EXPECT_EQ(TabCycle(IDC_FIRST_TERM, 1),
            (std::vector<int>{IDC_FIRST_TERM, IDC_KIND_COMBO, IDC_SECOND_TERM, IDC_SEARCH, IDC_RESULT_LIST}));
}

TEST(KeyRouting, EnterSearchesOnlyFromTheLastTermOfAMode) {
  EXPECT_EQ(marlix::RouteKey(RoutedKey::kEnter, IDC_FIRST_TERM, 0).action, KeyAction::kSearch);
  EXPECT_EQ(marlix::RouteKey(RoutedKey::kEnter, IDC_FIRST_TERM, 1).focus_id, IDC_KIND_COMBO);
  EXPECT_EQ(marlix::RouteKey(RoutedKey::kEnter, IDC_KIND_COMBO, 1).focus_id, IDC_SECOND_TERM);
  EXPECT_EQ(marlix::RouteKey(RoutedKey::kEnter, IDC_SECOND_TERM, 1).action, KeyAction::kSearch);
  EXPECT_EQ(marlix::RouteKey(RoutedKey::kEnter, IDC_RESULT_LIST, 0).action, KeyAction::kCopySelection);
  // Enter would otherwise close the window from the tab or the banner.
  EXPECT_EQ(marlix::RouteKey(RoutedKey::kEnter, IDC_MODE_TAB, 0).action, KeyAction::kSwallow);
  EXPECT_EQ(marlix::RouteKey(RoutedKey::kEnter, IDC_BANNER, 1).action, KeyAction::kSwallow);
  // Buttons and the update panel keep the standard handling.
  EXPECT_EQ(marlix::RouteKey(RoutedKey::kEnter, IDC_SEARCH, 0).action, KeyAction::kPassOn);
  EXPECT_EQ(marlix::RouteKey(RoutedKey::kTab, IDC_DATA_VERSION, 2).action, KeyAction::kPassOn);
  EXPECT_EQ(marlix::RouteKey(RoutedKey::kTab, IDC_MODE_TAB, 0).action, KeyAction::kPassOn);
}

TEST(ModeLayout, ComboItemsSelectTheSearchRules) {
  // The first item of each search mode is the default the window selects.
  const auto simple = marlix::LayoutForMode(0);
  const auto composite = marlix::LayoutForMode(1);
  ASSERT_TRUE(simple && composite);
  auto rule = [](int tab, std::string_view kind) {
    return marlix::RequestFromWindow(tab, kind, Cp949View("x"), Cp949View("y")).rule;
  };
  EXPECT_EQ(rule(0, simple->combo_items[0]), marlix::MatchRule::kWords);
  EXPECT_EQ(rule(0, simple->combo_items[1]), marlix::MatchRule::kPostcode);
  EXPECT_EQ(rule(1, composite->combo_items[0]), marlix::MatchRule::kAnd);
  EXPECT_EQ(rule(1, composite->combo_items[1]), marlix::MatchRule::kOr);
}

TEST(ModeLayout, OnlyTheUpdateModeShowsThePanelAndFetches) {
  for (int tab : {0, 1}) {
    const auto layout = marlix::LayoutForMode(tab);
    ASSERT_TRUE(layout);
    EXPECT_TRUE(layout->search_shown && layout->combo && layout->first_term);
    EXPECT_FALSE(layout->update_panel_shown || layout->fetch_data_version);
  }
  EXPECT_FALSE(marlix::LayoutForMode(0)->second_term);
  EXPECT_TRUE(marlix::LayoutForMode(1)->second_term);
  const auto update = marlix::LayoutForMode(2);
  ASSERT_TRUE(update);
  EXPECT_TRUE(update->update_panel_shown && update->fetch_data_version);
  EXPECT_FALSE(update->search_shown || update->combo || update->first_term || update->second_term);
  EXPECT_FALSE(marlix::LayoutForMode(3));
  EXPECT_FALSE(marlix::LayoutForMode(-1));
}

TEST(Banner, StepsThroughTheFiveFramesAndWrapsAround) {
  std::vector<int> bitmaps;
  int counter = 0;
  for (int tick = 0; tick < 11; ++tick) {
    const marlix::BannerStep step = marlix::StepBanner(counter);
    bitmaps.push_back(step.bitmap_id);
    counter = step.next_counter;
  }
  EXPECT_EQ(bitmaps, (std::vector<int>{147, 148, 149, 150, 151, 147, 148, 149, 150, 151, 147}));
  EXPECT_EQ(marlix::StepBanner(-1).bitmap_id, 0) << "a broken counter shows no image rather than a wrong id";
  // The drawing for the window's DPI, else the next larger one (the largest above 200%).
  for (const auto& [dpi, first_frame, art_dpi] : {std::tuple{72u, 147, 96u},
                                                  {96u, 147, 96u},
                                                  {120u, 152, 144u},
                                                  {144u, 152, 144u},
                                                  {168u, 157, 192u},
                                                  {288u, 157, 192u}}) {
    EXPECT_EQ(marlix::StepBanner(9, dpi).bitmap_id, first_frame + 4) << dpi;
    EXPECT_EQ(marlix::StepBanner(5, dpi).art_dpi, art_dpi) << dpi;
  }
}

TEST(ResultList, HorizontalExtentIsTheWidestLessTheAllowanceButNeverNegative) {
  EXPECT_EQ(marlix::HorizontalExtentFor(500), 408);
  EXPECT_EQ(marlix::HorizontalExtentFor(92), 0);
  EXPECT_EQ(marlix::HorizontalExtentFor(40), 0);
}

// The cut comes far above the real data's 52,144 lines; past it the last row
// tells the rest in Korean, the count grouped by thousands.
TEST(ResultList, ALongResultIsCutWithARowThatTellsTheRest) {
  ASSERT_GE(marlix::kMostListed, 100000u);
  const std::pair<std::size_t, std::optional<std::string>> cases[] = {
      {0, std::nullopt},
      {52144, std::nullopt},
      {marlix::kMostListed, std::nullopt},
      {marlix::kMostListed + 1, "▶이 밖에도 1건이 더 있습니다. 검색어를 좁혀 주세요.◀"},
      {marlix::kMostListed + 999, "▶이 밖에도 999건이 더 있습니다. 검색어를 좁혀 주세요.◀"},
      {marlix::kMostListed + 1000, "▶이 밖에도 1,000건이 더 있습니다. 검색어를 좁혀 주세요.◀"},
      {6413712, "▶이 밖에도 6,313,712건이 더 있습니다. 검색어를 좁혀 주세요.◀"},
  };
  for (const auto& [matches, row] : cases) EXPECT_EQ(marlix::UnlistedRow(matches), row) << matches;
}

TEST(Typing, OnlyTheSimpleTabSearchesAfterAPauseAndNeverMidSyllable) {
  using marlix::TypingAction;
  const std::tuple<int, std::string, bool, TypingAction> cases[] = {
      {0, " 역 ", false, TypingAction::kSearch}, {0, "역사", true, TypingAction::kWait},
      {0, "   ", false, TypingAction::kClear},   {0, "", false, TypingAction::kClear},
      {1, "역삼", false, TypingAction::kNone},   {2, "", true, TypingAction::kNone},
  };
  for (const auto& [tab, term, composing, action] : cases) {
    EXPECT_EQ(marlix::AfterTypingPause(tab, term, composing), action) << tab << " '" << term << "' " << composing;
  }
}

// The worker's batches taken as the window takes them, until the end.
struct WorkerRun {
  std::vector<marlix::FoundLine> lines;
  marlix::SearchEnd end;
};
WorkerRun RunWorker(marlix::SearchJob job) {
  marlix::SearchWorker worker(std::move(job), [] {});
  WorkerRun run;
  for (;;) {
    marlix::SearchWorker::News taken = worker.Take(100);
    for (marlix::FoundLine& line : taken.lines) run.lines.push_back(std::move(line));
    if (taken.end) return {std::move(run.lines), *taken.end};
    if (taken.lines.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// The window's search on its own thread: the lines the core finds, in its
// order, each with the place of its own bytes; a cut at kMostListed with the
// rest counted; a missing file told; a changed file read back as nothing.
TEST(SearchWorker, HandsOverTheCoresLinesWithTheirPlacesInBatches) {
  const std::filesystem::path path = std::filesystem::temp_directory_path() / "marlix-worker-test.txt";
  std::string data;
  for (std::size_t i = 0; i < marlix::kMostListed + 700; ++i) {
    data += (i % 3 == 0 ? "135-080 a " : "619-961 b\xB0\xA1 ") + std::to_string(i) + (i % 2 ? "\r\n" : "\n");
  }
  std::ofstream(path, std::ios::binary) << data;
  marlix::SearchJob job{path.string(), marlix::MatchRule::kPostcode, marlix::Cp949String("135080"), {}};
  const WorkerRun code = RunWorker(job);
  std::vector<std::string> expected;
  auto keep = [&](std::string_view line) { expected.emplace_back(line); };
  marlix::SearchFile(path.string().c_str(), {marlix::MatchRule::kPostcode, Cp949View("135080"), Cp949View()}, keep);
  ASSERT_EQ(code.lines.size(), expected.size());
  EXPECT_EQ(code.end.file_size, data.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(code.lines[i].text.bytes(), expected[i]) << i;
    EXPECT_EQ(marlix::ReadFoundLine(path.string(), data.size(), code.lines[i].offset, code.lines[i].length),
              marlix::Cp949String(expected[i]))
        << i;
  }

  job.rule = marlix::MatchRule::kOr;
  job.term1 = job.term2 = marlix::Cp949String();
  const WorkerRun all = RunWorker(job);
  EXPECT_EQ(all.lines.size(), marlix::kMostListed);
  EXPECT_EQ(all.end.matches, marlix::kMostListed + 700);

  std::ofstream(path, std::ios::binary | std::ios::app) << "135-080 new\n";
  EXPECT_EQ(marlix::ReadFoundLine(path.string(), data.size(), code.lines[0].offset, code.lines[0].length),
            std::nullopt);
  std::filesystem::remove(path);
  EXPECT_TRUE(RunWorker(job).end.data_missing);
}

}  // namespace

TEST(WindowRequest, MapsTheTabAndTheComboToARule) {
  using marlix::MatchRule;
  const std::string long_kind = std::string(marlix::kKindPostcode) + "xxxx";
  const std::pair<marlix::SearchRequest, MatchRule> cases[] = {
      {marlix::RequestFromWindow(0, marlix::kKindPostcode, Cp949View("135"), Cp949View("")), MatchRule::kPostcode},
      {marlix::RequestFromWindow(0, marlix::kKindName, Cp949View("135"), Cp949View("")), MatchRule::kWords},
      // Tab 0 with a kind other than the code is a word search, a kind cut
      // to the combo's bytes included; a kind that is not AND is OR.
      {marlix::RequestFromWindow(0, "", Cp949View("135"), Cp949View("")), MatchRule::kWords},
      {marlix::RequestFromWindow(0, long_kind, Cp949View("135"), Cp949View("")), MatchRule::kWords},
      {marlix::RequestFromWindow(1, marlix::kOperatorAnd, Cp949View("a"), Cp949View("b")), MatchRule::kAnd},
      {marlix::RequestFromWindow(1, "and", Cp949View("a"), Cp949View("b")), MatchRule::kOr},
      {marlix::RequestFromWindow(7, marlix::kOperatorAnd, Cp949View("a"), Cp949View("b")), MatchRule::kAnd},
      {marlix::RequestFromWindow(1, marlix::kKindPostcode, Cp949View("a"), Cp949View("b")), MatchRule::kOr},
  };
  for (const auto& [request, rule] : cases) EXPECT_EQ(request.rule, rule) << request.term1.bytes();
  EXPECT_EQ(marlix::RequestFromWindow(1, "OR", Cp949View("a"), Cp949View("b")).term2.bytes(), "b");
}
