#include "ingame/comms/picture_loader.h"

#include <objbase.h>
// The imaging component's identifiers are defined here rather than taken from its import library.
#include <initguid.h>
#include <wincodec.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace ingame {
namespace {

// Owns one reference to a COM object.
template <class Interface>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() {
    if (p_) p_->Release();
  }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;

  Interface* get() const { return p_; }
  Interface* operator->() const { return p_; }
  Interface** out() { return &p_; }

 private:
  Interface* p_ = nullptr;
};

// COM for the calling thread for the length of one load; a thread that has it already keeps its own.
class ComScope {
 public:
  ComScope() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;
  // RPC_E_CHANGED_MODE: the thread is in the multithreaded apartment already, where the component works too.
  bool usable() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }

 private:
  HRESULT result_;
};

std::wstring Widen(const char* text) {
  const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (length <= 1) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], length);
  wide.resize(static_cast<std::size_t>(length) - 1);
  return wide;
}

// The file at `path`, opened for reading when it is a file on a disk of this machine; INVALID_HANDLE_VALUE otherwise.
HANDLE OpenDiskFile(const std::wstring& path) {
  if (path.size() < 3 || path[1] != L':') return INVALID_HANDLE_VALUE;
  const wchar_t root[] = {path[0], L':', L'\\', L'\0'};
  switch (GetDriveTypeW(root)) {
    case DRIVE_FIXED:
    case DRIVE_REMOVABLE:
    case DRIVE_CDROM:
    case DRIVE_RAMDISK:
      break;
    default:
      return INVALID_HANDLE_VALUE;  // a network drive, or none
  }
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file != INVALID_HANDLE_VALUE && GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
  }
  return file;
}

class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// How many rows are read at a time: between two bands the load can stop for a newer picture.
constexpr UINT kBandRows = 64;

}  // namespace

LoadedPicture LoadPicture(const char* path, std::uint32_t generation, const std::function<bool()>& superseded) {
  LoadedPicture loaded;
  const std::wstring widePath = path ? Widen(path) : std::wstring();
  if (widePath.empty()) return loaded;
  // Declared before everything the imaging component makes of it, so that it is closed after them.
  const FileHandle file(OpenDiskFile(widePath));
  if (file.get() == INVALID_HANDLE_VALUE) return loaded;

  ComScope com;
  ComRef<IWICImagingFactory> factory;
  ComRef<IWICBitmapDecoder> decoder;
  ComRef<IWICBitmapFrameDecode> frame;
  UINT width = 0;
  UINT height = 0;
  if (!com.usable() ||
      FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                              reinterpret_cast<void**>(factory.out()))) ||
      FAILED(factory->CreateDecoderFromFileHandle(reinterpret_cast<ULONG_PTR>(file.get()), nullptr,
                                                  WICDecodeMetadataCacheOnDemand, decoder.out())) ||
      FAILED(decoder->GetFrame(0, frame.out())) || FAILED(frame->GetSize(&width, &height)) || width == 0 ||
      height == 0 || width > kPictureMaxSide || height > kPictureMaxSide ||
      std::uint64_t{width} * height > kPictureMaxClaimedPixels) {
    return loaded;
  }

  // Scaled with its colours weighted by their alpha: in premultiplied form, and back. 32-bit BGRA in memory is
  // 0xAARRGGBB as a little-endian number.
  IWICBitmapSource* source = frame.get();
  const Size fitted = FitPictureLimits(Size{width, height});
  ComRef<IWICFormatConverter> premultiplied;
  ComRef<IWICBitmapScaler> scaler;
  if (fitted.width != width || fitted.height != height) {
    if (FAILED(factory->CreateFormatConverter(premultiplied.out())) ||
        FAILED(premultiplied->Initialize(source, GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                         WICBitmapPaletteTypeCustom)) ||
        FAILED(factory->CreateBitmapScaler(scaler.out())) ||
        FAILED(scaler->Initialize(premultiplied.get(), fitted.width, fitted.height, WICBitmapInterpolationModeFant))) {
      return loaded;
    }
    source = scaler.get();
  }
  ComRef<IWICFormatConverter> converted;
  if (FAILED(factory->CreateFormatConverter(converted.out())) ||
      FAILED(converted->Initialize(source, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom))) {
    return loaded;
  }

  SectionView section = CreatePictureSection(generation, fitted.width, fitted.height);
  if (!section) return loaded;
  auto* bytes = static_cast<unsigned char*>(section.data());
  const UINT stride = fitted.width * 4;
  for (UINT top = 0; top < fitted.height; top += kBandRows) {
    if (superseded()) return loaded;
    const UINT rows = std::min(kBandRows, fitted.height - top);
    const WICRect band{0, static_cast<INT>(top), static_cast<INT>(fitted.width), static_cast<INT>(rows)};
    if (FAILED(converted->CopyPixels(&band, stride, stride * rows,
                                     bytes + sizeof(PictureHeader) + std::size_t{top} * stride))) {
      return loaded;
    }
  }

  PictureHeader header;
  header.generation = generation;
  header.width = fitted.width;
  header.height = fitted.height;
  std::memcpy(bytes, &header, sizeof header);
  // The pixels are written once, here; readers only ever map the section for reading.
  section.Unmap();

  loaded.section = static_cast<SectionView&&>(section);
  loaded.record.generation = generation;
  loaded.record.width = fitted.width;
  loaded.record.height = fitted.height;
  return loaded;
}

}  // namespace ingame
