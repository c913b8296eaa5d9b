// The global key that opens the search window, apart from the system calls
// that register it: how the setting stores it and what it stands for.
// The stored value is the hot-key control's own (HKM_GETHOTKEY): the virtual
// key in the low byte, the control's modifier flags in the next; 0 is off.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace marlix {

// The hot-key control's modifier flags (HOTKEYF_*).
inline constexpr unsigned kHotKeyShift = 0x01, kHotKeyControl = 0x02, kHotKeyAlt = 0x04;
// RegisterHotKey's (MOD_*).
inline constexpr unsigned kModAlt = 0x0001, kModControl = 0x0002, kModShift = 0x0004;

// Ctrl+Alt+Z: Windows itself takes neither Ctrl+Alt with a letter nor Z with
// any modifier, and Ctrl+Alt+Z is not AltGr with a letter on Korean or English
// keyboards.
inline constexpr std::uint32_t kDefaultHotKey = 'Z' | (kHotKeyControl | kHotKeyAlt) << 8;
inline constexpr std::uint32_t kHotKeyOff = 0;

struct HotKeyChord {
  unsigned modifiers = 0;  // MOD_*
  unsigned key = 0;        // virtual key
  friend bool operator==(const HotKeyChord&, const HotKeyChord&) = default;
};

// The setting as stored; none stored is the default.
constexpr std::uint32_t HotKeySetting(std::optional<std::uint32_t> stored) { return stored.value_or(kDefaultHotKey); }

// What to register for a setting: nothing when it is off, and nothing for a
// key without Ctrl or Alt, which would take a letter or a digit from every
// program's typing.
constexpr std::optional<HotKeyChord> ChordFor(std::uint32_t setting) {
  const unsigned key = setting & 0xFF;
  const unsigned flags = (setting >> 8) & 0xFF;
  if (key == 0 || (flags & (kHotKeyControl | kHotKeyAlt)) == 0) return std::nullopt;
  HotKeyChord chord{0, key};
  if (flags & kHotKeyControl) chord.modifiers |= kModControl;
  if (flags & kHotKeyAlt) chord.modifiers |= kModAlt;
  if (flags & kHotKeyShift) chord.modifiers |= kModShift;
  return chord;
}

// As people write it ("Ctrl+Alt+Z", "Ctrl+Shift+F9"); a key with no name of
// its own is written by its number.
std::string HotKeyName(std::uint32_t setting);

}  // namespace marlix
