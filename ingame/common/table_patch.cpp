#include "ingame/common/table_patch.h"

namespace ingame {

bool WriteTableSlot(Method* slot, Method value) {
  MEMORY_BASIC_INFORMATION info{};
  if (VirtualQuery(slot, &info, sizeof info) != sizeof info || info.State != MEM_COMMIT) return false;
  // A table in a section that also holds code must stay executable while it is written.
  constexpr DWORD kExecutable = PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
  const DWORD writable = (info.Protect & kExecutable) != 0 ? PAGE_EXECUTE_READWRITE : PAGE_READWRITE;
  DWORD before = 0;
  if (!VirtualProtect(slot, sizeof(Method), writable, &before)) return false;
  // One aligned pointer-sized store: a thread calling through the slot meanwhile gets the old or the new function.
  *static_cast<Method volatile*>(slot) = value;
  VirtualProtect(slot, sizeof(Method), before, &before);
  return true;
}

bool Readable(const void* address, std::size_t bytes) {
  constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                              PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
  const auto* at = static_cast<const unsigned char*>(address);
  const auto* end = at + bytes;
  while (at < end) {
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(at, &info, sizeof info) != sizeof info || info.State != MEM_COMMIT ||
        (info.Protect & kReadable) == 0 || (info.Protect & PAGE_GUARD) != 0) {
      return false;
    }
    at = static_cast<const unsigned char*>(info.BaseAddress) + info.RegionSize;
  }
  return true;
}

void PinThisLibrary() {
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCWSTR>(&PinThisLibrary), &self);
}

}  // namespace ingame
