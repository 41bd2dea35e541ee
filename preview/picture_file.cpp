#include "preview/picture_file.h"

#include <windows.h>
#include <wincodec.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "preview/com_ref.h"

namespace preview {
namespace {

// Pictures larger than this are refused rather than risk running out of memory on a broken file.
constexpr std::uint64_t kLargestPicturePixels = std::uint64_t{1} << 26;

std::wstring Widen(const std::string& text) {
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  if (length > 0) {
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
  }
  return wide;
}

}  // namespace

Picture ReadPictureFile(const std::string& path, int fitWidth, int fitHeight, std::string& error) {
  Picture picture;
  if (path.empty()) {
    error = "no path";
    return picture;
  }
  ComRef<IWICImagingFactory> factory;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                              reinterpret_cast<void**>(factory.out())))) {
    error = "the system's imaging component is not available";
    return picture;
  }
  if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    error = "file not found";
    return picture;
  }
  ComRef<IWICBitmapDecoder> decoder;
  ComRef<IWICBitmapFrameDecode> frame;
  if (FAILED(factory->CreateDecoderFromFilename(Widen(path).c_str(), nullptr, GENERIC_READ,
                                                WICDecodeMetadataCacheOnDemand, decoder.out())) ||
      FAILED(decoder->GetFrame(0, frame.out()))) {
    error = "not a picture the system can read";
    return picture;
  }

  IWICBitmapSource* source = frame.get();
  ComRef<IWICBitmapScaler> scaler;
  if (fitWidth > 0 && fitHeight > 0) {
    if (FAILED(factory->CreateBitmapScaler(scaler.out())) ||
        FAILED(scaler->Initialize(source, static_cast<UINT>(fitWidth), static_cast<UINT>(fitHeight),
                                  WICBitmapInterpolationModeFant))) {
      error = "cannot scale it";
      return picture;
    }
    source = scaler.get();
  }
  // 32-bit BGRA in memory is 0xAARRGGBB as a little-endian number.
  ComRef<IWICBitmapSource> converted;
  UINT width = 0;
  UINT height = 0;
  if (FAILED(WICConvertBitmapSource(GUID_WICPixelFormat32bppBGRA, source, converted.out())) ||
      FAILED(converted->GetSize(&width, &height)) || width == 0 || height == 0) {
    error = "cannot convert its pixels";
    return picture;
  }
  if (std::uint64_t{width} * height > kLargestPicturePixels) {
    error = "too large";
    return picture;
  }
  std::vector<std::uint32_t> pixels(std::size_t{width} * height);
  if (FAILED(converted->CopyPixels(nullptr, width * 4, static_cast<UINT>(pixels.size() * 4),
                                   reinterpret_cast<BYTE*>(pixels.data())))) {
    error = "cannot decode it";
    return picture;
  }
  picture.width = static_cast<int>(width);
  picture.height = static_cast<int>(height);
  picture.argb = std::move(pixels);
  error.clear();
  return picture;
}

}  // namespace preview
