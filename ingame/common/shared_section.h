// The named objects through which the communication library and the games share the overlay's state: the state
// section, the writers' lock, and one section per loaded picture. All are in the session's own namespace and open
// to the user's own processes only; whoever comes first creates them.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>

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
  void Reset();

 private:
  HANDLE section_ = nullptr;
  void* view_ = nullptr;
  std::size_t bytes_ = 0;
};

// Whether a named object is this user's own and open to no one else: owned by the user (or whom the user's new
// objects belong to), with an access list that gives access to the user alone. Objects of that name made by
// someone else first are never used.
bool MadeByThisUser(HANDLE object);
// Whether every page of `bytes` from `view` is committed and readable: a section whose pages are only reserved
// reads as an access violation on Windows.
bool Committed(const void* view, std::size_t bytes);

// The state section, created zero-filled when it does not exist yet; empty when it cannot be had, or when the
// section of that name is not this user's own (MadeByThisUser) or not all there.
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
// A picture section opened for reading, a band of rows at a time, so that a reader never maps more of it than a
// band, whatever size the picture is; every band is checked to be all there before it is read.
class CPictureSection {
 public:
  // The section of the picture `record` describes; null when there is none, when it is not this user's own
  // (MadeByThisUser), or when its header does not describe that picture.
  static std::shared_ptr<const CPictureSection> Open(const PictureRecord& record);
  ~CPictureSection();
  CPictureSection(const CPictureSection&) = delete;
  CPictureSection& operator=(const CPictureSection&) = delete;

  const PictureRecord& record() const { return record_; }

  // Reads rows of the picture in order, mapping a band of them at a time.
  class Rows {
   public:
    explicit Rows(const CPictureSection& picture) : picture_(picture) {}
    ~Rows() { Unmap(); }
    Rows(const Rows&) = delete;
    Rows& operator=(const Rows&) = delete;
    // Row `y` (the picture's width in pixels, 0xAARRGGBB); null when it cannot be read.
    const std::uint32_t* Row(std::uint32_t y);

   private:
    void Unmap();
    const CPictureSection& picture_;
    void* view_ = nullptr;
    const unsigned char* firstRow_ = nullptr;
    std::uint32_t bandTop_ = 0;
    std::uint32_t bandRows_ = 0;
  };

 private:
  CPictureSection(HANDLE section, const PictureRecord& record) : section_(section), record_(record) {}
  HANDLE section_;
  PictureRecord record_;
};

}  // namespace ingame
