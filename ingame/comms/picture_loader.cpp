#include "ingame/comms/picture_loader.h"

#include <objbase.h>
// The imaging component's identifiers are defined here rather than taken from its import library.
#include <initguid.h>
#include <wincodec.h>

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

}  // namespace

LoadedPicture LoadPicture(const char* path, std::uint32_t generation) {
  LoadedPicture loaded;
  const std::wstring widePath = path ? Widen(path) : std::wstring();
  if (widePath.empty()) return loaded;

  ComScope com;
  ComRef<IWICImagingFactory> factory;
  ComRef<IWICBitmapDecoder> decoder;
  ComRef<IWICBitmapFrameDecode> frame;
  UINT width = 0;
  UINT height = 0;
  if (!com.usable() ||
      FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                              reinterpret_cast<void**>(factory.out()))) ||
      FAILED(factory->CreateDecoderFromFilename(widePath.c_str(), nullptr, GENERIC_READ,
                                                WICDecodeMetadataCacheOnDemand, decoder.out())) ||
      FAILED(decoder->GetFrame(0, frame.out())) || FAILED(frame->GetSize(&width, &height)) || width == 0 ||
      height == 0) {
    return loaded;
  }

  IWICBitmapSource* source = frame.get();
  const Size fitted = FitPictureLimits(Size{width, height});
  ComRef<IWICBitmapScaler> scaler;
  if (fitted.width != width || fitted.height != height) {
    if (FAILED(factory->CreateBitmapScaler(scaler.out())) ||
        FAILED(scaler->Initialize(source, fitted.width, fitted.height, WICBitmapInterpolationModeFant))) {
      return loaded;
    }
    source = scaler.get();
  }
  // 32-bit BGRA in memory is 0xAARRGGBB as a little-endian number.
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
  const UINT pixelBytes = stride * fitted.height;
  if (FAILED(converted->CopyPixels(nullptr, stride, pixelBytes, bytes + sizeof(PictureHeader)))) return loaded;

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
