#include "search_window.h"

#include <iterator>

#include "postcode_search.h"
#include "resource.h"

namespace marlix {

KeyRoute RouteKey(RoutedKey key, int control_id, int tab) {
  using enum KeyAction;
  const bool simple = tab == 0;
  if (key == RoutedKey::kEnter) {
    switch (control_id) {
      case IDC_FIRST_TERM:
        return simple ? KeyRoute{kSearch} : KeyRoute{kMoveFocus, IDC_KIND_COMBO};
      case IDC_KIND_COMBO:
        return {kMoveFocus, simple ? IDC_FIRST_TERM : IDC_SECOND_TERM};
      case IDC_RESULT_LIST:
        return {kCopySelection};
      case IDC_SECOND_TERM:
        return {kSearch};
      case IDC_MODE_TAB:
      case IDC_BANNER:
        return {kSwallow};
      default:
        return {};
    }
  }
  // Tab walks combo, first term, search button, list in simple mode and first
  // term, combo, second term, search button, list in composite mode.
  switch (control_id) {
    case IDC_FIRST_TERM:
      return {kMoveFocus, simple ? IDC_SEARCH : IDC_KIND_COMBO};
    case IDC_KIND_COMBO:
      return {kMoveFocus, simple ? IDC_FIRST_TERM : IDC_SECOND_TERM};
    case IDC_RESULT_LIST:
      return {kMoveFocus, simple ? IDC_KIND_COMBO : IDC_FIRST_TERM};
    case IDC_SECOND_TERM:
      return {kMoveFocus, IDC_SEARCH};
    default:
      return {};
  }
}

std::optional<ModeLayout> LayoutForMode(int tab) {
  ModeLayout layout;
  switch (tab) {
    case 0:
      // The combo texts are the ones the search compares against.
      layout.combo_items = {kKindName, kKindPostcode};
      layout.combo = ControlRect{10, 70, 90, 100};
      layout.first_term = ControlRect{100, 70, 210, 20};
      layout.search_shown = true;
      return layout;
    case 1:
      layout.combo_items = {kOperatorAnd, kOperatorOr};
      layout.combo = ControlRect{130, 70, 50, 60};
      layout.first_term = ControlRect{10, 70, 120, 20};
      layout.second_term = ControlRect{180, 70, 120, 20};
      layout.search_shown = true;
      layout.focus_first_term = true;
      return layout;
    case 2:
      layout.update_panel_shown = true;
      layout.fetch_data_version = true;
      return layout;
    default:
      return std::nullopt;
  }
}

SearchRequest RequestFromWindow(int tab, std::string_view kind, Cp949View term1, Cp949View term2) {
  kind = kind.substr(0, kKindMaxBytes);
  MatchRule rule;
  if (tab == 0) {
    rule = kind == kKindPostcode ? MatchRule::kPostcode : MatchRule::kWords;
  } else {
    rule = kind == kOperatorAnd ? MatchRule::kAnd : MatchRule::kOr;
  }
  return {rule, term1, term2};
}

TypingAction AfterTypingPause(int tab, std::string_view term, bool composing) {
  if (!SearchesAsYouType(tab)) return TypingAction::kNone;
  if (composing) return TypingAction::kWait;
  if (term.find_first_not_of(' ') == std::string_view::npos) return TypingAction::kClear;
  return TypingAction::kSearch;
}

std::optional<std::string> UnlistedRow(std::size_t matches) {
  if (matches <= kMostListed) return std::nullopt;
  // The count with a comma every three digits: 6,313,712.
  std::string count = std::to_string(matches - kMostListed);
  for (std::size_t at = count.size(); at > 3; at -= 3) count.insert(at - 3, 1, ',');
  return "▶이 밖에도 " + count + "건이 더 있습니다. 검색어를 좁혀 주세요.◀";
}

BannerStep StepBanner(int counter, unsigned dpi) {
  struct Art {
    int first_id;
    unsigned dpi;
  };
  constexpr Art kArt[] = {{IDB_BANNER_FIRST, 96}, {IDB_BANNER_150_FIRST, 144}, {IDB_BANNER_200_FIRST, 192}};
  Art art = kArt[std::size(kArt) - 1];
  for (const Art& drawn : kArt) {
    if (drawn.dpi >= dpi) {
      art = drawn;
      break;
    }
  }
  constexpr int kFrames = IDB_BANNER_LAST - IDB_BANNER_FIRST + 1;
  const int frame = counter % kFrames;
  const int bitmap = frame >= 0 ? art.first_id + frame : 0;
  return {frame, bitmap, frame + 1, art.dpi};
}

}  // namespace marlix
