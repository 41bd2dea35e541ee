// The named objects through which the communication library and the games share the overlay's state: the state
// section, the writers' lock, and one section per loaded picture. All are in the session's own namespace and open
// to the user's own processes only; whoever comes first creates them.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "ingame/common/shared_state.h"

namespace ingame {

// The layout's version is part of every name, so that an overlay of another layout never reads this one's state.
inline constexpr char kStateName[] = "Local\\va_vazu.overlay.1.state";
inline constexpr char kPictureNamePrefix[] = "Local\\va_vazu.overlay.1.picture.";

// A security descriptor that grants everything to the user this process runs as, and nothing to anyone else.
class UserOnlySecurity {
 public:
  UserOnlySecurity();
  ~UserOnlySecurity();
  UserOnlySecurity(const UserOnlySecurity&) = delete;
  UserOnlySecurity& operator=(const UserOnlySecurity&) = delete;

  // Null when the descriptor could not be made: then nothing is created.
  SECURITY_ATTRIBUTES* attributes() { return descriptor_ ? &attributes_ : nullptr; }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  SECURITY_ATTRIBUTES attributes_{};
};

// A view of a section, unmapped and closed with the object.
class SectionView {
 public:
  SectionView() = default;
  SectionView(HANDLE section, void* view, std::size_t bytes) : section_(section), view_(view), bytes_(bytes) {}
  ~SectionView() { Reset(); }
  SectionView(SectionView&& other) noexcept { *this = static_cast<SectionView&&>(other); }
  SectionView& operator=(SectionView&& other) noexcept;
  SectionView(const SectionView&) = delete;
  SectionView& operator=(const SectionView&) = delete;

  void* data() const { return view_; }
  std::size_t bytes() const { return bytes_; }
  explicit operator bool() const { return view_ != nullptr; }
  // Unmaps the view but keeps the section open, so that it outlives its writer while this process holds it.
  void Unmap();
  // Another view of the whole section, for reading, which leaves the section open with this object; empty when
  // this holds none.
  SectionView MapAgain() const;
  void Reset();

 private:
  HANDLE section_ = nullptr;
  void* view_ = nullptr;
  std::size_t bytes_ = 0;
};

// The state section, created zero-filled when it does not exist yet.
SectionView OpenStateSection();
inline SharedState* StateOf(const SectionView& view) { return static_cast<SharedState*>(view.data()); }

// The writers' lock of the shared state, held while a record or the picture generation is changed: a word of the
// state itself, so that taking it costs no call into the system. It is held for microseconds; a writer that
// finds it held longer asks whether the holder's thread still runs, and takes over the lock of one that died.
class WritersLock {
 public:
  WritersLock(SharedState& state, DWORD timeoutMs);
  ~WritersLock();
  WritersLock(const WritersLock&) = delete;
  WritersLock& operator=(const WritersLock&) = delete;

  bool held() const { return held_; }

 private:
  SharedState& state_;
  std::uint64_t self_;
  bool held_ = false;
};

// A new picture section for `generation` with room for width x height pixels after the header; fails when a
// section of that name exists already (it is not ours to trust).
SectionView CreatePictureSection(std::uint32_t generation, std::uint32_t width, std::uint32_t height);
// The picture section of `generation`, mapped whole for reading; empty when there is none.
SectionView OpenPictureSection(std::uint32_t generation);

}  // namespace ingame
