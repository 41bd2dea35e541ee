// Redirecting methods of the system's own Direct3D objects to the overlay: a slot of the table that all objects of
// one interface share is pointed at the overlay's function, which calls the function that was there. The game keeps
// the system's objects, so everything it can ask of them (identities, reference counts, results, errors) is the
// system's answer; only the methods patched here see the overlay.
//
// A table is patched once and never restored: a game calls through it until its last moment, and the functions it
// points at stay loaded with this library, which is pinned for the process's life once it has patched a table.
#pragma once

#include <windows.h>

#include <cstddef>

namespace ingame {

// What a slot of a table holds: a method, called as the type of the interface's declaration says.
using Method = void (*)();

struct SlotHook {
  int slot;
  Method hook;
};

template <int SlotCount>
class CPatchedTable {
 public:
  // Patches the table of `object`, the first time: each slot named points at its hook afterwards. Later objects
  // must share that table. False when the object has another table, or the table cannot be written: the object then
  // runs without the overlay.
  template <std::size_t Count>
  bool Install(void* object, const SlotHook (&hooks)[Count]) {
    return InstallSlots(object, hooks, Count);
  }
  // The function that was in `slot` before it was patched, as the type the caller calls it through.
  template <class Function>
  Function Original(int slot) const {
    return reinterpret_cast<Function>(originals_[slot]);
  }

 private:
  bool InstallSlots(void* object, const SlotHook* hooks, std::size_t count);

  SRWLOCK lock_ = SRWLOCK_INIT;
  Method* table_ = nullptr;
  Method originals_[SlotCount] = {};
};

// Writes `value` into a slot of a table that the system keeps read-only; false when the memory cannot be written.
bool WriteTableSlot(Method* slot, Method value);
// Keeps this library loaded until the process ends, so that a patched table never points into freed code.
void PinThisLibrary();

template <int SlotCount>
bool CPatchedTable<SlotCount>::InstallSlots(void* object, const SlotHook* hooks, std::size_t count) {
  if (!object) return false;
  Method* table = *static_cast<Method**>(object);
  AcquireSRWLockExclusive(&lock_);
  bool ready = table_ == table;
  if (!table_) {
    PinThisLibrary();
    // The originals are written before any slot points at a hook, so a hook always finds its original.
    for (std::size_t i = 0; i < count; ++i) originals_[hooks[i].slot] = table[hooks[i].slot];
    ready = true;
    for (std::size_t i = 0; i < count && ready; ++i) ready = WriteTableSlot(&table[hooks[i].slot], hooks[i].hook);
    // A table patched half-way calls the overlay for some methods only; the hooks pass those on unchanged for
    // objects without an overlay, which is what every object of this table then is.
    table_ = table;
    if (!ready) table_ = reinterpret_cast<Method*>(-1);
  }
  ReleaseSRWLockExclusive(&lock_);
  return ready;
}

}  // namespace ingame
