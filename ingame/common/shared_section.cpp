#include "ingame/common/shared_section.h"

#include <sddl.h>

#include <string>
#include <vector>

namespace ingame {
namespace {

std::string PictureSectionName(std::uint32_t generation) { return kPictureNamePrefix + std::to_string(generation); }

// The string form of the process's user SID, or empty.
std::string UserSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  DWORD bytes = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &bytes);
  std::vector<unsigned char> buffer(bytes);
  std::string sid;
  char* text = nullptr;
  if (bytes != 0 && GetTokenInformation(token, TokenUser, buffer.data(), bytes, &bytes) &&
      ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
    sid = text;
    LocalFree(text);
  }
  CloseHandle(token);
  return sid;
}

std::size_t RegionBytes(const void* view) {
  MEMORY_BASIC_INFORMATION info{};
  return VirtualQuery(view, &info, sizeof info) == sizeof info ? info.RegionSize : 0;
}

}  // namespace

UserOnlySecurity::UserOnlySecurity() {
  const std::string sid = UserSid();
  if (sid.empty()) return;
  // A protected DACL with one entry: all access for the user.
  const std::string sddl = "D:P(A;;GA;;;" + sid + ")";
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &descriptor_, nullptr)) {
    descriptor_ = nullptr;
    return;
  }
  attributes_.nLength = sizeof attributes_;
  attributes_.lpSecurityDescriptor = descriptor_;
  attributes_.bInheritHandle = FALSE;
}

UserOnlySecurity::~UserOnlySecurity() {
  if (descriptor_) LocalFree(descriptor_);
}

SectionView& SectionView::operator=(SectionView&& other) noexcept {
  if (this != &other) {
    Reset();
    section_ = other.section_;
    view_ = other.view_;
    bytes_ = other.bytes_;
    other.section_ = nullptr;
    other.view_ = nullptr;
    other.bytes_ = 0;
  }
  return *this;
}

void SectionView::Unmap() {
  if (view_) UnmapViewOfFile(view_);
  view_ = nullptr;
  bytes_ = 0;
}

SectionView SectionView::MapAgain() const {
  if (!section_) return {};
  void* view = MapViewOfFile(section_, FILE_MAP_READ, 0, 0, 0);
  return view ? SectionView(nullptr, view, RegionBytes(view)) : SectionView();
}

void SectionView::Reset() {
  Unmap();
  if (section_) CloseHandle(section_);
  section_ = nullptr;
}

SectionView OpenStateSection() {
  HANDLE section = OpenFileMappingA(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, kStateName);
  if (!section) {
    UserOnlySecurity security;
    if (!security.attributes()) return {};
    section = CreateFileMappingA(INVALID_HANDLE_VALUE, security.attributes(), PAGE_READWRITE, 0,
                                 sizeof(SharedState), kStateName);
  }
  if (!section) return {};
  // A section of that name too small for the state (not one of ours) cannot be mapped at this size.
  void* view = MapViewOfFile(section, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(SharedState));
  if (!view) {
    CloseHandle(section);
    return {};
  }
  return SectionView(section, view, sizeof(SharedState));
}

namespace {

// Whether the thread `writer` names has ended (or the id is now another process's thread).
bool WriterEnded(std::uint64_t writer) {
  const auto processId = static_cast<DWORD>(writer >> 32);
  const auto threadId = static_cast<DWORD>(writer & 0xFFFFFFFFu);
  HANDLE thread = OpenThread(SYNCHRONIZE | THREAD_QUERY_LIMITED_INFORMATION, FALSE, threadId);
  if (!thread) return GetLastError() == ERROR_INVALID_PARAMETER;  // no such thread; no access says nothing
  const bool ended = WaitForSingleObject(thread, 0) == WAIT_OBJECT_0 || GetProcessIdOfThread(thread) != processId;
  CloseHandle(thread);
  return ended;
}

}  // namespace

WritersLock::WritersLock(SharedState& state, DWORD timeoutMs)
    : state_(state), self_(PackWriter(GetCurrentProcessId(), GetCurrentThreadId())) {
  const ULONGLONG start = GetTickCount64();
  ULONGLONG lastCheck = start;
  for (unsigned attempt = 0;; ++attempt) {
    std::uint64_t expected = 0;
    if (state_.writer.compare_exchange_strong(expected, self_, std::memory_order_acquire)) break;
    const ULONGLONG now = GetTickCount64();
    // Held for more than a few milliseconds: a writer that died would hold it for ever.
    if (now - lastCheck >= 5) {
      lastCheck = now;
      if (WriterEnded(expected) &&
          state_.writer.compare_exchange_strong(expected, self_, std::memory_order_acquire)) {
        break;
      }
    }
    if (now - start >= timeoutMs) return;
    if (attempt < 64) {
      YieldProcessor();
    } else {
      Sleep(attempt < 256 ? 0 : 1);
    }
  }
  held_ = true;
}

WritersLock::~WritersLock() {
  if (held_) state_.writer.store(0, std::memory_order_release);
}

SectionView CreatePictureSection(std::uint32_t generation, std::uint32_t width, std::uint32_t height) {
  const std::uint64_t bytes = sizeof(PictureHeader) + std::uint64_t{width} * height * 4;
  if (bytes > 0xFFFFFFFFu) return {};
  UserOnlySecurity security;
  if (!security.attributes()) return {};
  HANDLE section = CreateFileMappingA(INVALID_HANDLE_VALUE, security.attributes(), PAGE_READWRITE, 0,
                                      static_cast<DWORD>(bytes), PictureSectionName(generation).c_str());
  if (!section) return {};
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(section);
    return {};
  }
  void* view = MapViewOfFile(section, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, static_cast<SIZE_T>(bytes));
  if (!view) {
    CloseHandle(section);
    return {};
  }
  return SectionView(section, view, static_cast<std::size_t>(bytes));
}

SectionView OpenPictureSection(std::uint32_t generation) {
  HANDLE section = OpenFileMappingA(FILE_MAP_READ, FALSE, PictureSectionName(generation).c_str());
  if (!section) return {};
  void* view = MapViewOfFile(section, FILE_MAP_READ, 0, 0, 0);
  if (!view) {
    CloseHandle(section);
    return {};
  }
  // The whole section is mapped; its size is what the system says, not what its header claims.
  return SectionView(section, view, RegionBytes(view));
}

}  // namespace ingame
