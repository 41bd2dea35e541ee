// Redirecting methods of Direct3D objects to the overlay: a slot of the table that the objects of one class share is
// pointed at the overlay's function, which calls the function that was there. The game keeps its objects, so
// everything it can ask of them (identities, reference counts, results, errors) is their implementation's answer;
// only the methods patched here see the overlay.
//
// An interface may be implemented by several classes in one process (plain and pure devices of one
// implementation, a wrapper's devices beside the system's), each with a table of its own. Every table is patched
// once, the first time an object of it is seen, and keeps its own originals: a hook finds the functions to call
// through the table of the object it was called on.
//
// A table is never restored: a game calls through it until its last moment, and the functions it points at stay
// loaded with this library, which is pinned for the process's life once it has patched a table. Where someone else
// writes back the functions that were there before the overlay patched them (a component restoring a copy of the
// table it took earlier), Repatch puts the hooks back; a slot that holds any other function, such as another
// component's hook chained to the overlay's, is left alone.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>

namespace ingame {

// What a slot of a table holds: a method, called as the type of the interface's declaration says.
using Method = void (*)();

// Writes `value` into a slot of a table that the system keeps read-only; false when the memory cannot be written.
bool WriteTableSlot(Method* slot, Method value);
// Whether `bytes` from `address` are committed memory that can be read.
bool Readable(const void* address, std::size_t bytes);
// Keeps this library loaded until the process ends, so that a patched table never points into freed code.
void PinThisLibrary();

template <int SlotCount>
class CPatchedTables {
 public:
  // Room for this many tables of one interface; an object of a further class runs without the overlay.
  static constexpr int kMaxTables = 16;

  // Points each slot of `object`'s table whose hook is not null at that hook, the first time the table is seen,
  // and keeps what was there as that table's originals. True when the object's table is one the overlay patched
  // whole, whatever other components have written into its slots since: a slot holding another component's function
  // (a recorder's or another overlay's hook, put there through a device of its own) is left to it, and the overlay
  // still runs when that function calls on; a slot holding its original again gets the hook back. False when the
  // table cannot be read or written, or when there is no room for another table: the object then runs without the
  // overlay.
  bool Install(const void* object, const Method (&hooks)[SlotCount]);

  // The function that was in `slot` of `object`'s table before the overlay patched it, as the type the caller
  // calls it through.
  template <class Function>
  Function Original(const void* object, int slot) const {
    return reinterpret_cast<Function>(OriginalMethod(object, slot));
  }
  Method OriginalMethod(const void* object, int slot) const;

  // Puts the hooks back into every slot where someone has written back the original since; the number of slots
  // put back.
  int Repatch(const Method (&hooks)[SlotCount]);

 private:
  struct Table {
    Method* slots = nullptr;
    Method originals[SlotCount] = {};
    bool complete = false;  // every hook was written
  };
  const Table* Find(const Method* slots) const;
  // Puts the hooks back into the slots of `table` that hold their originals again; the number put back.
  static int PutBack(const Table& table, const Method (&hooks)[SlotCount]);
  // A slot as it is now: other threads may write it meanwhile.
  static Method ReadSlot(const Method* slots, int slot) { return *static_cast<Method const volatile*>(&slots[slot]); }

  SRWLOCK lock_ = SRWLOCK_INIT;
  Table tables_[kMaxTables];
  // Tables [0, count_) are filled: an entry is written whole before the count that shows it, and before any of
  // its slots points at a hook, so a hook always finds its table.
  std::atomic<int> count_{0};
};

template <int SlotCount>
const typename CPatchedTables<SlotCount>::Table* CPatchedTables<SlotCount>::Find(const Method* slots) const {
  const int count = count_.load(std::memory_order_acquire);
  for (int i = 0; i < count; ++i) {
    if (tables_[i].slots == slots) return &tables_[i];
  }
  return nullptr;
}

template <int SlotCount>
Method CPatchedTables<SlotCount>::OriginalMethod(const void* object, int slot) const {
  const Table* table = Find(*static_cast<Method* const*>(object));
  // A hook is called through a table the overlay patched, or through a copy someone made of one: such a copy
  // holds the overlay's hooks only, and the first table's originals are the best guess left.
  return (table ? table : &tables_[0])->originals[slot];
}

template <int SlotCount>
bool CPatchedTables<SlotCount>::Install(const void* object, const Method (&hooks)[SlotCount]) {
  if (!object || !Readable(object, sizeof(Method*))) return false;
  Method* slots = *static_cast<Method* const*>(object);
  if (!slots || !Readable(slots, sizeof(Method) * SlotCount)) return false;
  AcquireSRWLockExclusive(&lock_);
  bool ready = false;
  if (const Table* known = Find(slots)) {
    // Other components may have chained their functions before the overlay's since, or written originals back.
    ready = known->complete;
    if (ready) PutBack(*known, hooks);
  } else if (count_.load(std::memory_order_relaxed) < kMaxTables) {
    PinThisLibrary();
    const int index = count_.load(std::memory_order_relaxed);
    Table& table = tables_[index];
    table.slots = slots;
    for (int slot = 0; slot < SlotCount; ++slot) {
      // A copy of a patched table holds the overlay's hook where the original was: the first table's original is
      // the best guess, and never the hook itself, which would call itself.
      const Method found = ReadSlot(slots, slot);
      table.originals[slot] = found == hooks[slot] && index > 0 ? tables_[0].originals[slot] : found;
    }
    count_.store(index + 1, std::memory_order_release);
    ready = true;
    for (int slot = 0; slot < SlotCount && ready; ++slot) {
      if (hooks[slot]) ready = WriteTableSlot(&slots[slot], hooks[slot]);
    }
    // A table patched half-way calls the overlay for some methods only; the hooks pass those on unchanged for
    // objects without an overlay, which is what every object of this table then is.
    table.complete = ready;
  }
  ReleaseSRWLockExclusive(&lock_);
  return ready;
}

template <int SlotCount>
int CPatchedTables<SlotCount>::PutBack(const Table& table, const Method (&hooks)[SlotCount]) {
  int patched = 0;
  for (int slot = 0; slot < SlotCount; ++slot) {
    const bool restored = ReadSlot(table.slots, slot) == table.originals[slot];
    if (!hooks[slot] || !restored || table.originals[slot] == hooks[slot]) continue;
    if (WriteTableSlot(&table.slots[slot], hooks[slot])) ++patched;
  }
  return patched;
}

template <int SlotCount>
int CPatchedTables<SlotCount>::Repatch(const Method (&hooks)[SlotCount]) {
  int patched = 0;
  AcquireSRWLockExclusive(&lock_);
  const int count = count_.load(std::memory_order_relaxed);
  for (int i = 0; i < count; ++i) {
    const Table& table = tables_[i];
    // A table that is not the system's own may have gone with its library or its memory.
    if (!table.complete || !Readable(table.slots, sizeof(Method) * SlotCount)) continue;
    patched += PutBack(table, hooks);
  }
  ReleaseSRWLockExclusive(&lock_);
  return patched;
}

}  // namespace ingame
