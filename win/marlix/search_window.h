// The decisions of the search window that need no window system: the keyboard
// routing, the layout of each mode, the banner step, the list's measures and
// how much of a result it lists.
// The window (search_dlg_win.cpp) only carries them out.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "postcode_search.h"

namespace marlix {

// The combo texts that select a rule.
inline constexpr std::string_view kKindPostcode = "우편번호";
inline constexpr std::string_view kKindName = "동명/건물명";
inline constexpr std::string_view kOperatorAnd = "AND";
inline constexpr std::string_view kOperatorOr = "OR";
// The combo's text is read into this many bytes ("동명/건물명" fills them).
inline constexpr std::size_t kKindMaxBytes = kKindName.size();

// The search that the window's controls ask for. In the simple tab (0) the
// kind "우편번호" searches by code and any other kind by words; any other tab
// combines the terms, with AND when the operator says so and OR otherwise.
// `kind` is the combo's UTF-8 text; the terms are the data's CP949 bytes.
SearchRequest RequestFromWindow(int tab, std::string_view kind, Cp949View term1, Cp949View term2);

// In the simple tab a search starts once typing has paused this long; a
// search asked for with Enter or the button starts at once.
inline constexpr unsigned kTypingPauseMs = 150;
constexpr bool SearchesAsYouType(int tab) { return tab == 0; }

enum class TypingAction {
  kNone,    // this tab searches only when asked
  kWait,    // a Hangul syllable is still being composed: look again after another pause
  kClear,   // nothing to search for: the list empties
  kSearch,  // the term as it stands is searched
};

// What a pause in typing the first term does in tab `tab`, the term (UTF-8)
// as it stands and whether the input method is composing a syllable in it.
TypingAction AfterTypingPause(int tab, std::string_view term, bool composing);

// Keys the window routes itself; modifiers are not looked at.
enum class RoutedKey { kEnter, kTab };

enum class KeyAction {
  kPassOn,         // standard dialog keyboard handling
  kSwallow,        // consumed, nothing happens
  kSearch,         // runs the search
  kCopySelection,  // copies the selected result line
  kMoveFocus,      // focus to focus_id
};

struct KeyRoute {
  KeyAction action = KeyAction::kPassOn;
  int focus_id = 0;
};

// What Enter or Tab does in the control `control_id` while tab `tab` is selected.
KeyRoute RouteKey(RoutedKey key, int control_id, int tab);

struct ControlRect {
  int x, y, width, height;
};

// The window's controls in one mode. An empty place means the control is hidden.
struct ModeLayout {
  std::array<std::string_view, 2> combo_items;  // none in the update mode
  std::optional<ControlRect> combo;
  std::optional<ControlRect> first_term;  // shown emptied at this place
  std::optional<ControlRect> second_term;
  bool search_shown = false;        // the search button and the result list
  bool update_panel_shown = false;  // group box, update button, status line, version text
  bool focus_first_term = false;    // the focus goes to the first term before anything moves
  bool fetch_data_version = false;
};

// The layout of tab 0 (simple search), 1 (composite search) or 2 (update);
// nothing for any other index.
std::optional<ModeLayout> LayoutForMode(int tab);

// Places of the first initialisation, in client pixels at 96 DPI; the window
// scales them to its own DPI.
inline constexpr ControlRect kStatusLinePlace{10, 70, 280, 20};
inline constexpr ControlRect kSearchButtonPlace{310, 70, 75, 20};
inline constexpr ControlRect kUpdateButtonPlace{310, 70, 75, 20};
inline constexpr ControlRect kSecondTermStartPlace{200, 70, 70, 20};
inline constexpr int kModeTabTop = 40, kModeTabHeight = 60;
// The list goes from here to the window's foot.
inline constexpr int kResultListTop = 100;
// A search that waits for the data shows the transfer's bar above the list,
// which gives way by as much.
inline constexpr int kSearchProgressHeight = 12;

// One tick of the banner: the frame it shows, the bitmap resource to load
// (0 when the frame is out of range and the banner gets no image) and the DPI
// that bitmap is drawn for.
struct BannerStep {
  int frame;
  int bitmap_id;
  int next_counter;
  unsigned art_dpi = 96;
};
// The banner is drawn for 100, 150 and 200%: a window shows the drawing for
// its DPI, or the next larger one scaled down (the largest above 200%).
BannerStep StepBanner(int counter, unsigned dpi = 96);
// The banner's size at 96 DPI, without its border.
inline constexpr int kBannerWidth = 402, kBannerHeight = 38;

// A row's height at 96 DPI; never less than its text's.
inline constexpr int kResultItemHeight = 15;
// The list scrolls sideways by the widest line less this many pixels.
inline constexpr int kExtentAllowance = 92;
// Never negative: a narrow result needs no sideways scrolling at all.
constexpr int HorizontalExtentFor(int widest) { return widest > kExtentAllowance ? widest - kExtentAllowance : 0; }

// The two rows a search with no match shows.
inline constexpr std::string_view kNoDataRows[2] = {"", "                   ▶조회된 자료가 없습니다.◀"};

// The row a search shows while it waits for the data, above one with the
// transfer's bytes and time left.
inline constexpr std::string_view kFetchingDataRow = "▶우편번호 자료를 받고 있습니다◀";

// A result is listed up to this many lines, far more than anyone reads; the
// rest are only counted. A list of every line of the national file would
// take the window minutes and gigabytes.
inline constexpr std::size_t kMostListed = 100000;

// The row after a cut result: how many matching lines are not listed;
// nothing when all `matches` are listed.
std::optional<std::string> UnlistedRow(std::size_t matches);

}  // namespace marlix
