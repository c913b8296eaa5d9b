#include "clipboard_text_win.h"

#include <cstring>

#include "handle_win.h"
#include "text_win.h"

namespace {

// A zero-filled movable block holding `bytes` and a terminating zero of `zero_bytes`.
HGLOBAL ClipboardBlock(const void* bytes, std::size_t size, std::size_t zero_bytes) {
  HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size + zero_bytes);
  if (!block) return nullptr;
  if (void* target = ::GlobalLock(block)) {
    if (size > 0) std::memcpy(target, bytes, size);
    ::GlobalUnlock(block);
  }
  return block;
}

// The clipboard owns a block only when it takes it.
void Offer(UINT format, HGLOBAL block) {
  // cppcheck-suppress doubleFree ; freed only when SetClipboardData refused it
  if (block && !::SetClipboardData(format, block)) ::GlobalFree(block);
}

}  // namespace

bool PutTextOnClipboard(HWND owner, const marlix::Cp949View& cp949, std::wstring_view wide) {
  const LCID locale = marlix::kKoreanLocale;
  const OpenedClipboard clipboard(owner);
  if (!clipboard) return false;
  ::EmptyClipboard();
  Offer(CF_TEXT, ClipboardBlock(cp949.bytes().data(), cp949.bytes().size(), 1));
  Offer(CF_UNICODETEXT, ClipboardBlock(wide.data(), wide.size() * sizeof(wchar_t), sizeof(wchar_t)));
  Offer(CF_LOCALE, ClipboardBlock(&locale, sizeof locale, 0));
  return true;
}
