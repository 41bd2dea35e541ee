#include "tests/support/picture_writer.h"

#include <wincodec.h>

#include <algorithm>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace testsupport {

void WriteBmp(const fs::path& file, int width, int height, const Colour& colour) {
  const int stride = (width * 3 + 3) & ~3;
  BITMAPFILEHEADER header{};
  BITMAPINFOHEADER info{};
  header.bfType = 0x4D42;
  header.bfOffBits = sizeof header + sizeof info;
  header.bfSize = header.bfOffBits + static_cast<DWORD>(stride * height);
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  std::vector<char> rows(static_cast<std::size_t>(stride) * height, 0);
  for (int y = 0; y < height; ++y) {
    char* row = &rows[static_cast<std::size_t>(height - 1 - y) * stride];
    for (int x = 0; x < width; ++x) {
      const std::uint32_t c = colour(x, y);
      row[x * 3] = static_cast<char>(c & 0xFF);
      row[x * 3 + 1] = static_cast<char>((c >> 8) & 0xFF);
      row[x * 3 + 2] = static_cast<char>((c >> 16) & 0xFF);
    }
  }
  std::ofstream out(file, std::ios::binary);
  out.write(reinterpret_cast<const char*>(&header), sizeof header);
  out.write(reinterpret_cast<const char*>(&info), sizeof info);
  out.write(rows.data(), static_cast<std::streamsize>(rows.size()));
}

bool WritePicture(const fs::path& file, const GUID& container, int width, int height,
                  const Colour& colour, bool alpha) {
  if (IsEqualGUID(container, GUID_ContainerFormatBmp) && !alpha) {
    WriteBmp(file, width, height, colour);
    return true;
  }
  // GIF takes only palette pictures: a palette of the picture's own colours.
  const bool indexed = IsEqualGUID(container, GUID_ContainerFormatGif);
  std::vector<WICColor> palette;
  std::vector<BYTE> pixels;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint32_t c = colour(x, y);
      if (!indexed) {
        pixels.insert(pixels.end(), {static_cast<BYTE>(c), static_cast<BYTE>(c >> 8), static_cast<BYTE>(c >> 16)});
        if (alpha) pixels.push_back(static_cast<BYTE>(c >> 24));
        continue;
      }
      const WICColor entry = 0xFF000000u | c;
      const auto i = static_cast<std::size_t>(std::find(palette.begin(), palette.end(), entry) - palette.begin());
      if (i == palette.size()) palette.push_back(entry);
      pixels.push_back(static_cast<BYTE>(i));
    }
  }
  WICPixelFormatGUID format = indexed ? GUID_WICPixelFormat8bppIndexed
                               : alpha ? GUID_WICPixelFormat32bppBGRA
                                       : GUID_WICPixelFormat24bppBGR;
  const UINT stride = static_cast<UINT>(width * (indexed ? 1 : alpha ? 4 : 3));
  IWICImagingFactory* factory = nullptr;
  IWICBitmap* bitmap = nullptr;
  IWICPalette* wicPalette = nullptr;
  IWICStream* stream = nullptr;
  IWICBitmapEncoder* encoder = nullptr;
  IWICBitmapFrameEncode* frame = nullptr;
  const std::wstring path = file.wstring();
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  bool ok =
      SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                 reinterpret_cast<void**>(&factory))) &&
      SUCCEEDED(factory->CreateBitmapFromMemory(static_cast<UINT>(width), static_cast<UINT>(height), format,
                                                stride, static_cast<UINT>(pixels.size()), pixels.data(), &bitmap));
  if (ok && indexed) {
    ok = SUCCEEDED(factory->CreatePalette(&wicPalette)) &&
         SUCCEEDED(wicPalette->InitializeCustom(palette.data(), static_cast<UINT>(palette.size()))) &&
         SUCCEEDED(bitmap->SetPalette(wicPalette));
  }
  ok = ok && SUCCEEDED(factory->CreateStream(&stream)) &&
       SUCCEEDED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) &&
       SUCCEEDED(factory->CreateEncoder(container, nullptr, &encoder)) &&
       SUCCEEDED(encoder->Initialize(stream, WICBitmapEncoderNoCache)) &&
       SUCCEEDED(encoder->CreateNewFrame(&frame, nullptr)) && SUCCEEDED(frame->Initialize(nullptr)) &&
       SUCCEEDED(frame->SetSize(static_cast<UINT>(width), static_cast<UINT>(height))) &&
       SUCCEEDED(frame->SetPixelFormat(&format)) && (!indexed || SUCCEEDED(frame->SetPalette(wicPalette))) &&
       SUCCEEDED(frame->WriteSource(bitmap, nullptr)) && SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
  for (IUnknown* object : std::initializer_list<IUnknown*>{frame, encoder, stream, bitmap, wicPalette, factory}) {
    if (object) object->Release();
  }
  CoUninitialize();
  return ok;
}

}  // namespace testsupport
