#include "ingame/common/layered_present.h"

#include <windows.h>

#include <atomic>

namespace ingame {
namespace {

// The thread-local slot of this library's presents, taken once; TLS_OUT_OF_INDEXES when the system had none left
// (then no present is told apart, and a library below draws as it would alone).
DWORD PresentSlot() {
  static const DWORD slot = TlsAlloc();
  return slot;
}

using PresentingFunction = int (*)();
std::atomic<PresentingFunction> g_above{nullptr};

}  // namespace

CLayerPresent::CLayerPresent() : before_(nullptr) {
  const DWORD slot = PresentSlot();
  if (slot == TLS_OUT_OF_INDEXES) return;
  const DWORD error = GetLastError();
  before_ = TlsGetValue(slot);
  TlsSetValue(slot, reinterpret_cast<void*>(1));
  SetLastError(error);
}

CLayerPresent::~CLayerPresent() {
  const DWORD slot = PresentSlot();
  if (slot != TLS_OUT_OF_INDEXES) TlsSetValue(slot, before_);
}

bool PresentingHere() {
  const DWORD slot = PresentSlot();
  if (slot == TLS_OUT_OF_INDEXES) return false;
  const DWORD error = GetLastError();
  const bool presenting = TlsGetValue(slot) != nullptr;
  SetLastError(error);
  return presenting;
}

void FindLayerAbove(const wchar_t* name) {
  if (g_above.load(std::memory_order_relaxed)) return;
  // Only a library of the overlay's has this export: another library of that name (the system's, a wrapper's)
  // draws no overlay.
  if (HMODULE library = GetModuleHandleW(name)) {
    const FARPROC found = GetProcAddress(library, "VaVazuOverlayPresenting");
    if (found) g_above.store(reinterpret_cast<PresentingFunction>(reinterpret_cast<void (*)()>(found)));
  }
}

bool PresentingAbove() {
  const PresentingFunction above = g_above.load(std::memory_order_relaxed);
  return above && above() != 0;
}

}  // namespace ingame
