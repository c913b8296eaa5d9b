// How many GDI and USER objects a process holds. GetGuiResources answers on
// Windows; Wine's is a stub, so there the process's GDI handle table, which
// the PEB points at, is counted instead, and its windows stand in for its USER
// objects (Wine keeps no per-process count of its menus and icons).
#pragma once

#include <windows.h>
#include <winternl.h>

#include <cstdint>
#include <vector>

namespace gdi_count {

// One entry of the GDI handle table (the layout Windows and Wine share).
struct HandleEntry {
  std::uint64_t object;
  std::uint32_t owner;
  std::uint16_t unique;
  std::uint8_t type;  // 0: free
  std::uint8_t flags;
  std::uint64_t user_pointer;
};
static_assert(sizeof(HandleEntry) == 24);
constexpr std::size_t kTableEntries = 0x10000;
constexpr std::size_t kPebGdiTableOffset = 0xF8;  // x86-64

inline long FromHandleTable(HANDLE process) {
  using QueryFn = NTSTATUS(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
  auto query = reinterpret_cast<QueryFn>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
  PROCESS_BASIC_INFORMATION info{};
  if (!query || query(process, ProcessBasicInformation, &info, sizeof info, nullptr) != 0) return -1;
  std::uint64_t table = 0;
  SIZE_T got = 0;
  if (!::ReadProcessMemory(process, reinterpret_cast<char*>(info.PebBaseAddress) + kPebGdiTableOffset, &table,
                           sizeof table, &got) ||
      !table) {
    return -1;
  }
  std::vector<HandleEntry> entries(kTableEntries);
  if (!::ReadProcessMemory(process, reinterpret_cast<void*>(table), entries.data(),
                           entries.size() * sizeof(HandleEntry), &got)) {
    return -1;
  }
  long live = 0;
  for (const HandleEntry& e : entries) live += e.type != 0;
  return live;
}

// -1 when neither way can tell.
inline long Objects(HANDLE process) {
  ::SetLastError(0);
  const DWORD n = ::GetGuiResources(process, GR_GDIOBJECTS);
  if (n || ::GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return static_cast<long>(n);
  return FromHandleTable(process);
}

// Top-level windows of the process and every window below them.
inline long WindowsOf(DWORD pid) {
  struct Count {
    DWORD pid;
    long windows;
  } count{pid, 0};
  ::EnumWindows(
      [](HWND top, LPARAM param) -> BOOL {
        auto& c = *reinterpret_cast<Count*>(param);
        DWORD owner = 0;
        ::GetWindowThreadProcessId(top, &owner);
        if (owner != c.pid) return TRUE;
        ++c.windows;
        ::EnumChildWindows(
            top, [](HWND, LPARAM n) -> BOOL { return ++*reinterpret_cast<long*>(n), TRUE; },
            reinterpret_cast<LPARAM>(&c.windows));
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&count));
  return count.windows;
}

inline long UserObjects(HANDLE process) {
  ::SetLastError(0);
  const DWORD n = ::GetGuiResources(process, GR_USEROBJECTS);
  if (n || ::GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return static_cast<long>(n);
  return WindowsOf(::GetProcessId(process));
}

}  // namespace gdi_count
