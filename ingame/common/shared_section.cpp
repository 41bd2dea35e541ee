#include "ingame/common/shared_section.h"

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace ingame {
namespace {

std::string PictureSectionName(std::uint32_t generation) { return kPictureNamePrefix + std::to_string(generation); }

// The user this process runs as, and the owner its new objects get (the user, or for an elevated administrator the
// administrators' group).
struct ProcessIdentity {
  std::vector<unsigned char> user;
  std::vector<unsigned char> owner;
};

std::vector<unsigned char> TokenPart(HANDLE token, TOKEN_INFORMATION_CLASS part) {
  DWORD bytes = 0;
  GetTokenInformation(token, part, nullptr, 0, &bytes);
  std::vector<unsigned char> buffer(bytes);
  if (bytes == 0 || !GetTokenInformation(token, part, buffer.data(), bytes, &bytes)) buffer.clear();
  return buffer;
}

const ProcessIdentity& Identity() {
  static const ProcessIdentity identity = [] {
    ProcessIdentity found;
    HANDLE token = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
      found.user = TokenPart(token, TokenUser);
      found.owner = TokenPart(token, TokenOwner);
      CloseHandle(token);
    }
    return found;
  }();
  return identity;
}

PSID UserOf(const ProcessIdentity& identity) {
  return identity.user.empty() ? nullptr
                               : reinterpret_cast<const TOKEN_USER*>(identity.user.data())->User.Sid;
}

PSID OwnerOf(const ProcessIdentity& identity) {
  return identity.owner.empty() ? nullptr
                                : reinterpret_cast<const TOKEN_OWNER*>(identity.owner.data())->Owner;
}

// The string form of the process's user SID, or empty.
std::string UserSid() {
  std::string sid;
  char* text = nullptr;
  if (PSID user = UserOf(Identity()); user && ConvertSidToStringSidA(user, &text)) {
    sid = text;
    LocalFree(text);
  }
  return sid;
}

bool SameSid(PSID a, PSID b) { return a && b && IsValidSid(a) && IsValidSid(b) && EqualSid(a, b); }

}  // namespace

bool MadeByThisUser(HANDLE object) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                      nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const ProcessIdentity& identity = Identity();
  PSID user = UserOf(identity);
  // An object without an access list is open to everyone: not one the overlay makes.
  bool ours = user != nullptr && dacl != nullptr;
  // Wine leaves the owner out of some objects; where there is one, it is this user, or whom this user's new
  // objects belong to.
  if (ours && owner) ours = SameSid(owner, user) || SameSid(owner, OwnerOf(identity));
  if (ours) {
    ACL_SIZE_INFORMATION size{};
    ours = GetAclInformation(dacl, &size, sizeof size, AclSizeInformation) != FALSE;
    for (DWORD i = 0; ours && i < size.AceCount; ++i) {
      void* entry = nullptr;
      ours = GetAce(dacl, i, &entry) != FALSE;
      if (!ours) break;
      const auto* header = static_cast<const ACE_HEADER*>(entry);
      if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;  // it takes away, it never gives
      // Access for anyone but this user, or of a kind not looked into, makes it someone else's.
      ours = header->AceType == ACCESS_ALLOWED_ACE_TYPE &&
             SameSid(const_cast<DWORD*>(&static_cast<const ACCESS_ALLOWED_ACE*>(entry)->SidStart), user);
    }
  }
  LocalFree(descriptor);
  return ours;
}

bool Committed(const void* view, std::size_t bytes) {
  constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                              PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
  const auto* at = static_cast<const unsigned char*>(view);
  const unsigned char* const end = at + bytes;
  while (at < end) {
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(at, &info, sizeof info) != sizeof info || info.State != MEM_COMMIT ||
        (info.Protect & kReadable) == 0 || (info.Protect & (PAGE_GUARD | PAGE_NOACCESS)) != 0 ||
        info.RegionSize == 0) {
      return false;
    }
    at = static_cast<const unsigned char*>(info.BaseAddress) + info.RegionSize;
  }
  return true;
}

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

void SectionView::Reset() {
  Unmap();
  if (section_) CloseHandle(section_);
  section_ = nullptr;
}

SectionView OpenStateSection() {
  HANDLE section = OpenFileMappingA(FILE_MAP_READ | FILE_MAP_WRITE | READ_CONTROL, FALSE, kStateName);
  if (!section) {
    UserOnlySecurity security;
    if (!security.attributes()) return {};
    section = CreateFileMappingA(INVALID_HANDLE_VALUE, security.attributes(), PAGE_READWRITE, 0,
                                 sizeof(SharedState), kStateName);
  }
  if (!section) return {};
  // Whoever came first made it: it is used only when it is this user's own, open to no one else, and every page
  // of it is there to be read. A section of that name too small for the state cannot be mapped at this size.
  void* view = MadeByThisUser(section) ? MapViewOfFile(section, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(SharedState))
                                       : nullptr;
  if (!view || !Committed(view, sizeof(SharedState))) {
    if (view) UnmapViewOfFile(view);
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

namespace {

// The system's granularity for where a view may start.
std::uint64_t ViewGranularity() {
  static const std::uint64_t granularity = [] {
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    return std::uint64_t{info.dwAllocationGranularity ? info.dwAllocationGranularity : 65536};
  }();
  return granularity;
}

// Maps `bytes` of a section from `offset` for reading; the view and where the asked-for bytes start in it, or nulls
// when the section does not reach that far or they are not all there.
std::pair<void*, const unsigned char*> MapForReading(HANDLE section, std::uint64_t offset, std::uint64_t bytes) {
  const std::uint64_t start = offset / ViewGranularity() * ViewGranularity();
  const std::uint64_t length = offset - start + bytes;
  if (length > 0x7FFFFFFF) return {nullptr, nullptr};
  void* view = MapViewOfFile(section, FILE_MAP_READ, static_cast<DWORD>(start >> 32), static_cast<DWORD>(start),
                             static_cast<SIZE_T>(length));
  if (!view) return {nullptr, nullptr};
  const unsigned char* at = static_cast<const unsigned char*>(view) + (offset - start);
  if (!Committed(at, static_cast<std::size_t>(bytes))) {
    UnmapViewOfFile(view);
    return {nullptr, nullptr};
  }
  return {view, at};
}

// How many bytes of rows a band maps at most (one row at least).
constexpr std::uint64_t kBandBytes = 1 << 20;

}  // namespace

std::shared_ptr<const CPictureSection> CPictureSection::Open(const PictureRecord& record) {
  if (record.generation == 0 || !CheckPicture(record)) return nullptr;
  HANDLE section = OpenFileMappingA(FILE_MAP_READ | READ_CONTROL, FALSE, PictureSectionName(record.generation).c_str());
  if (!section) return nullptr;
  bool matches = false;
  if (MadeByThisUser(section)) {
    const auto [view, at] = MapForReading(section, 0, sizeof(PictureHeader));
    if (view) {
      PictureHeader header;
      std::memcpy(&header, at, sizeof header);
      matches = header.generation == record.generation && header.width == record.width &&
                header.height == record.height;
      UnmapViewOfFile(view);
    }
  }
  if (!matches) {
    CloseHandle(section);
    return nullptr;
  }
  try {
    return std::shared_ptr<const CPictureSection>(new CPictureSection(section, record));
  } catch (...) {
    CloseHandle(section);
    return nullptr;
  }
}

CPictureSection::~CPictureSection() { CloseHandle(section_); }

const std::uint32_t* CPictureSection::Rows::Row(std::uint32_t y) {
  const PictureRecord& record = picture_.record_;
  if (y >= record.height) return nullptr;
  const std::uint64_t rowBytes = std::uint64_t{record.width} * 4;
  if (!view_ || y < bandTop_ || y >= bandTop_ + bandRows_) {
    Unmap();
    bandTop_ = y;
    bandRows_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(record.height - y, std::max<std::uint64_t>(1, kBandBytes / rowBytes)));
    const auto [view, at] = MapForReading(picture_.section_, sizeof(PictureHeader) + y * rowBytes, bandRows_ * rowBytes);
    view_ = view;
    firstRow_ = at;
    if (!view_) return nullptr;
  }
  return reinterpret_cast<const std::uint32_t*>(firstRow_ + (y - bandTop_) * rowBytes);
}

void CPictureSection::Rows::Unmap() {
  if (view_) UnmapViewOfFile(view_);
  view_ = nullptr;
  firstRow_ = nullptr;
  bandRows_ = 0;
}

}  // namespace ingame
