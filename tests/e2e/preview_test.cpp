// The preview game screen behind the communication library's stand-in: what the dialog sends, and what the
// stand-in is called with, appears on the preview's screen as the overlay would draw it, the hotkeys work with
// the preview in front, and a preview that does not answer never holds up the caller.
//
// The preview runs with a still scene of one colour, so every pixel the overlay touches shows: the facts are
// checked on the preview's client area as it is on the screen.
#include <gtest/gtest.h>
#include <wincodec.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "harness.h"
#include "overlay/overlay_api.h"
#include "preview/protocol.h"
#include "res/resource.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kScene = 0x406080;
constexpr int kWidth = 400;
constexpr int kHeight = 300;
// At the top left, beside the dialog, which opens in the middle of the screen (651 of 1600 pixels wide), so
// neither covers the other.
constexpr char kPlacement[] = "--pos 0,0";

using Colour = std::function<std::uint32_t(int x, int y)>;

// A 24-bit bottom-up BMP whose pixel (x, y) is colour(x, y), 0x00RRGGBB.
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

// The same picture encoded by the system's imaging component in `container` (PNG, JPEG, GIF, ...): as 24-bit
// colour, or for GIF, which takes only palette pictures, through a palette of the picture's own colours.
bool WritePicture(const fs::path& file, const GUID& container, int width, int height, const Colour& colour) {
  const bool indexed = IsEqualGUID(container, GUID_ContainerFormatGif);
  std::vector<WICColor> palette;
  std::vector<BYTE> pixels;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint32_t c = colour(x, y);
      if (!indexed) {
        pixels.insert(pixels.end(), {static_cast<BYTE>(c), static_cast<BYTE>(c >> 8), static_cast<BYTE>(c >> 16)});
        continue;
      }
      const WICColor entry = 0xFF000000u | c;
      const auto i = static_cast<std::size_t>(std::find(palette.begin(), palette.end(), entry) - palette.begin());
      if (i == palette.size()) palette.push_back(entry);
      pixels.push_back(static_cast<BYTE>(i));
    }
  }
  WICPixelFormatGUID format = indexed ? GUID_WICPixelFormat8bppIndexed : GUID_WICPixelFormat24bppBGR;
  const UINT stride = static_cast<UINT>(width * (indexed ? 1 : 3));
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

// The preview's client area as it is on the screen, 0x00RRGGBB.
struct Shot {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;

  std::uint32_t At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
  // The smallest rectangle holding every pixel of another colour than the scene's; empty when there is none.
  RECT Changed() const {
    RECT r{width, height, 0, 0};
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        if (At(x, y) == kScene) continue;
        r.left = std::min<LONG>(r.left, x);
        r.top = std::min<LONG>(r.top, y);
        r.right = std::max<LONG>(r.right, x + 1);
        r.bottom = std::max<LONG>(r.bottom, y + 1);
      }
    }
    return r.right > r.left ? r : RECT{0, 0, 0, 0};
  }
  bool Unchanged() const { return Changed().right == 0; }
  int Count(std::uint32_t colour) const {
    int n = 0;
    for (std::uint32_t p : pixels) n += p == colour ? 1 : 0;
    return n;
  }
  // Whether a pixel of that colour lies inside the rectangle.
  bool Has(std::uint32_t colour, const RECT& within) const {
    for (int y = within.top; y < within.bottom; ++y) {
      for (int x = within.left; x < within.right; ++x) {
        if (At(x, y) == colour) return true;
      }
    }
    return false;
  }
};

std::string Describe(const RECT& r) {
  return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + ")-(" + std::to_string(r.right) + "," +
         std::to_string(r.bottom) + ")";
}

bool Inside(const RECT& inner, const RECT& outer) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom;
}

bool Near(std::uint32_t a, std::uint32_t b, int tolerance) {
  for (int shift = 0; shift <= 16; shift += 8) {
    const int d = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
    if (d > tolerance || d < -tolerance) return false;
  }
  return true;
}

// va_vazu_preview.exe started from bin/, on top of every other window, ended with the test.
class Preview {
 public:
  Preview(const std::string& arguments, const fs::path& folder) {
    const fs::path exe = BinFolder() / "va_vazu_preview.exe";
    std::string commandLine = "\"" + exe.string() + "\" " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessA(exe.string().c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        folder.string().c_str(), &startup, &process_)) {
      ADD_FAILURE() << "cannot start " << exe.string() << ": error " << GetLastError();
      process_ = PROCESS_INFORMATION{};
      return;
    }
    WaitUntil([&] {
      HWND found = FindWindowA(preview::kWindowClass, nullptr);
      DWORD pid = 0;
      if (found) GetWindowThreadProcessId(found, &pid);
      if (pid == process_.dwProcessId && IsWindowVisible(found)) window_ = found;
      return window_ != nullptr;
    });
    if (!window_) {
      ADD_FAILURE() << "the preview's window did not appear";
      return;
    }
    SetWindowPos(window_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  ~Preview() {
    if (!process_.hProcess) return;
    ResumeThread(process_.hThread);
    TerminateProcess(process_.hProcess, 0);
    WaitForSingleObject(process_.hProcess, kWaitMs);
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }
  Preview(const Preview&) = delete;
  Preview& operator=(const Preview&) = delete;

  HWND window() const { return window_; }
  void Suspend() const { SuspendThread(process_.hThread); }
  void Resume() const { ResumeThread(process_.hThread); }

  Shot Capture() const {
    Shot shot;
    RECT client{};
    POINT origin{0, 0};
    if (!GetClientRect(window_, &client) || !ClientToScreen(window_, &origin)) return shot;
    shot.width = client.right;
    shot.height = client.bottom;
    shot.pixels = Screenshot({origin.x, origin.y, origin.x + shot.width, origin.y + shot.height}).pixels();
    return shot;
  }

  // Captures until `done` holds (or the wait is over); the last capture.
  Shot WaitForShot(const std::function<bool(const Shot&)>& done) const {
    Shot shot;
    WaitUntil([&] {
      shot = Capture();
      return !shot.pixels.empty() && done(shot);
    });
    return shot;
  }

  // Presses and releases the key with the preview in front, as a player would in the game.
  void PressKey(WORD key) const {
    SetForegroundWindow(window_);
    EXPECT_TRUE(WaitUntil([&] { return GetForegroundWindow() == window_; }, 2000)) << "the preview is not in front";
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(key, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = KEYEVENTF_EXTENDEDKEY;  // INSERT, HOME and END of the navigation block
    SendInput(1, &input, sizeof input);
    Sleep(50);
    input.ki.dwFlags |= KEYEVENTF_KEYUP;
    SendInput(1, &input, sizeof input);
  }

 private:
  PROCESS_INFORMATION process_{};
  HWND window_ = nullptr;
};

// A folder with the scene of one colour, and the preview started on it.
struct Stage {
  fs::path folder = NewRunFolder();
  std::unique_ptr<Preview> preview;

  explicit Stage(const std::string& extraArguments = std::string()) {
    WriteBmp(folder / "scene.bmp", kWidth, kHeight, [](int, int) { return kScene; });
    preview = std::make_unique<Preview>("--size 400x300 " + std::string(kPlacement) + " --scene \"" +
                                            (folder / "scene.bmp").string() + "\" " + extraArguments,
                                        folder);
  }
  ~Stage() {
    preview.reset();
    std::error_code error;
    if (!::testing::Test::HasFailure()) fs::remove_all(folder, error);
  }
};

// The communication library's stand-in loaded into the test, calling the preview as the program would.
class Comms {
 public:
  Comms() : folder_(NewRunFolder()) {
    fs::copy_file(BinFolder() / "standins" / "full" / "hvcomms.dll", folder_ / "hvcomms.dll");
    module_ = LoadLibraryA((folder_ / "hvcomms.dll").string().c_str());
    EXPECT_NE(module_, nullptr);
  }
  ~Comms() {
    if (module_) FreeLibrary(module_);
    std::error_code error;
    if (!::testing::Test::HasFailure()) fs::remove_all(folder_, error);
  }
  Comms(const Comms&) = delete;
  Comms& operator=(const Comms&) = delete;

  template <class Function>
  Function Get(const char* name) const {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
  }
  overlay::bool8 SetLine(int x, int y, const char* text, std::uint32_t argb, bool black, int size) const {
    return Get<overlay::HVSL_SetTextLineData_t>("HVSL_SetTextLineData")(
        static_cast<overlay::word>(x), static_cast<overlay::word>(y), text, argb, black ? 1 : 0,
        static_cast<std::uint8_t>(size), 1, 0);
  }
  void ShowLine(bool show) const { Get<overlay::HVSL_ShowText_t>("HVSL_ShowText")(show ? 1 : 0); }
  overlay::bool8 SetBlock(int x, int y, int width, int height, const char* text, std::uint32_t argb,
                          bool black) const {
    return Get<overlay::HVML_SetTextMultilineData_t>("HVML_SetTextMultilineData")(
        static_cast<overlay::word>(x), static_cast<overlay::word>(y), text, argb, black ? 1 : 0, 20, 1,
        static_cast<overlay::word>(width), static_cast<overlay::word>(height), 0);
  }
  void ShowBlock(bool show) const { Get<overlay::HVML_ShowText_t>("HVML_ShowText")(show ? 1 : 0); }
  void LoadPicture(const std::string& path) const {
    Get<overlay::HVPIC_LoadNewPicture_t>("HVPIC_LoadNewPicture")(path.c_str());
  }
  void ShowPicture(bool show, int x, int y) const {
    Get<overlay::HVPIC_ShowPicturePos_t>("HVPIC_ShowPicturePos")(show ? 1 : 0, x, y);
  }
  Trace ReadTrace() const { return Trace::Load(folder_ / "trace.log"); }

 private:
  fs::path folder_;
  HMODULE module_ = nullptr;
};

// The text line: its colour lies in the box that starts at (x, y) and nowhere else; the black background fills
// exactly that box; the colour's alpha mixes it with the game, and alpha 0 draws nothing at all.
TEST(PreviewDrawing, TextLineSitsAtItsPlaceInItsColourAndAlpha) {
  Stage stage;
  Comms comms;
  ASSERT_NE(stage.preview->window(), nullptr);
  const RECT around{40, 30, 40 + 200, 30 + 40};  // ample for "HHHH" in 20-pixel bold

  EXPECT_EQ(comms.SetLine(40, 30, "HHHH", 0xFFFF0000, false, 20), 1);
  comms.ShowLine(true);
  Shot shot = stage.preview->WaitForShot([](const Shot& s) { return s.Count(0xFF0000) > 0; });
  RECT changed = shot.Changed();
  EXPECT_GT(shot.Count(0xFF0000), 20) << "the text's colour does not show";
  EXPECT_TRUE(Inside(changed, around)) << "drawn at " << Describe(changed);
  EXPECT_LT(changed.left, 40 + 6) << "drawn at " << Describe(changed);
  EXPECT_LT(changed.top, 30 + 12) << "drawn at " << Describe(changed);

  // Half alpha: the fully covered pixels are the halfway mix of red and the scene, and none is pure red.
  comms.SetLine(40, 30, "HHHH", 0x80FF0000, false, 20);
  const std::uint32_t half = 0xA03040;  // 0x406080 mixed with 0xFF0000 by 128/255
  shot = stage.preview->WaitForShot([&](const Shot& s) { return s.Count(half) > 0; });
  EXPECT_GT(shot.Count(half), 20);
  EXPECT_EQ(shot.Count(0xFF0000), 0);

  // The black background covers the text's box from (x, y) exactly, the text drawn over it.
  comms.SetLine(40, 30, "HHHH", 0xFFFF0000, true, 20);
  shot = stage.preview->WaitForShot([](const Shot& s) { return s.At(40, 30) == 0; });
  changed = shot.Changed();
  EXPECT_EQ(changed.left, 40);
  EXPECT_EQ(changed.top, 30);
  EXPECT_TRUE(Inside(changed, around)) << "background at " << Describe(changed);
  int scenePixels = 0;
  for (int y = changed.top; y < changed.bottom; ++y) {
    for (int x = changed.left; x < changed.right; ++x) scenePixels += shot.At(x, y) == kScene ? 1 : 0;
  }
  EXPECT_EQ(scenePixels, 0) << "the background has holes";
  EXPECT_GT(shot.Count(0xFF0000), 20);

  // Alpha 0 draws neither the text nor its background.
  comms.SetLine(40, 30, "HHHH", 0x00FF0000, true, 20);
  shot = stage.preview->WaitForShot([](const Shot& s) { return s.Unchanged(); });
  EXPECT_TRUE(shot.Unchanged()) << "drawn at " << Describe(shot.Changed());

  // Hidden, it is gone whatever its look.
  comms.SetLine(40, 30, "HHHH", 0xFFFF0000, true, 20);
  stage.preview->WaitForShot([](const Shot& s) { return !s.Unchanged(); });
  comms.ShowLine(false);
  shot = stage.preview->WaitForShot([](const Shot& s) { return s.Unchanged(); });
  EXPECT_TRUE(shot.Unchanged()) << "still drawn at " << Describe(shot.Changed());
}

// The text block: one line per CR LF, everything cut at its box, and the black background filling the box.
TEST(PreviewDrawing, TextBlockIsClippedToItsBox) {
  Stage stage;
  Comms comms;
  ASSERT_NE(stage.preview->window(), nullptr);
  comms.ShowBlock(true);

  // Two short lines in a tall box: two bands of text with a blank row between them.
  comms.SetBlock(20, 20, 200, 150, "WWW\r\nWWW", 0xFF00FF00, false);
  Shot shot = stage.preview->WaitForShot([](const Shot& s) { return s.Count(0x00FF00) > 0; });
  std::vector<bool> rowHasText(static_cast<std::size_t>(kHeight), false);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) rowHasText[y] = rowHasText[y] || shot.At(x, y) != kScene;
  }
  int bands = 0;
  for (int y = 0; y < kHeight; ++y) bands += rowHasText[y] && (y == 0 || !rowHasText[y - 1]) ? 1 : 0;
  EXPECT_EQ(bands, 2) << "lines drawn: " << bands;

  // Long lines in a small box: the text reaches the box's right and bottom edges and stops there.
  const RECT box{20, 20, 80, 50};
  comms.SetBlock(20, 20, 60, 30, "WWWWWWWWWWWW\r\nWWWWWWWWWWWW\r\nWWWWWWWWWWWW", 0xFF00FF00, false);
  shot = stage.preview->WaitForShot([&](const Shot& s) { return Inside(s.Changed(), box) && s.Count(0x00FF00) > 0; });
  RECT changed = shot.Changed();
  EXPECT_TRUE(Inside(changed, box)) << "drawn at " << Describe(changed);
  EXPECT_GE(changed.right, box.right - 2) << "drawn at " << Describe(changed);
  EXPECT_GE(changed.bottom, box.bottom - 2) << "the second line is missing; drawn at " << Describe(changed);

  // The black background fills the whole box and not a pixel more.
  comms.SetBlock(20, 20, 60, 30, "WWWWWWWWWWWW\r\nWWWWWWWWWWWW\r\nWWWWWWWWWWWW", 0xFF00FF00, true);
  shot = stage.preview->WaitForShot([](const Shot& s) { return s.At(20, 20) == 0; });
  changed = shot.Changed();
  EXPECT_EQ(changed.left, box.left);
  EXPECT_EQ(changed.top, box.top);
  EXPECT_EQ(changed.right, box.right);
  EXPECT_EQ(changed.bottom, box.bottom);
  EXPECT_FALSE(shot.Has(kScene, box)) << "the background has holes";
}

struct PictureFormat {
  std::string name;
  GUID container;
  int tolerance;  // JPEG is lossy
};

void PrintTo(const PictureFormat& f, std::ostream* out) { *out << f.name; }

class PreviewPicture : public ::testing::TestWithParam<PictureFormat> {};

// A picture of known colours (left half one, right half another) appears with its corner at the position
// given, disappears when hidden, and a file that cannot be read shows nothing and is reported in the title.
TEST_P(PreviewPicture, ShowsAtItsPositionAndHides) {
  const PictureFormat& format = GetParam();
  constexpr std::uint32_t kLeft = 0xD02030;
  constexpr std::uint32_t kRight = 0x30D050;
  Stage stage;
  Comms comms;
  ASSERT_NE(stage.preview->window(), nullptr);
  const fs::path file = stage.folder / ("picture." + format.name);
  const Colour halves = [](int x, int) { return x < 16 ? kLeft : kRight; };
  if (format.name == "bmp") {
    WriteBmp(file, 32, 16, halves);
  } else {
    ASSERT_TRUE(WritePicture(file, format.container, 32, 16, halves)) << "cannot write " << format.name;
  }

  comms.LoadPicture(file.string());
  comms.ShowPicture(true, 10, 10);
  Shot shot = stage.preview->WaitForShot([](const Shot& s) { return !s.Unchanged(); });
  EXPECT_TRUE(Near(shot.At(10 + 8, 10 + 8), kLeft, format.tolerance)) << std::hex << shot.At(18, 18);
  EXPECT_TRUE(Near(shot.At(10 + 24, 10 + 8), kRight, format.tolerance)) << std::hex << shot.At(34, 18);
  const RECT changed = shot.Changed();
  EXPECT_TRUE(Inside(changed, RECT{10, 10, 10 + 32, 10 + 16})) << "drawn at " << Describe(changed);
  if (format.tolerance == 0) {
    EXPECT_EQ(shot.At(10, 10), kLeft);
    EXPECT_EQ(shot.At(10 + 31, 10 + 15), kRight);
  }

  comms.ShowPicture(false, 0, 0);
  shot = stage.preview->WaitForShot([](const Shot& s) { return s.Unchanged(); });
  EXPECT_TRUE(shot.Unchanged()) << "still drawn at " << Describe(shot.Changed());

  const std::string missing = (stage.folder / "missing.png").string();
  comms.LoadPicture(missing);
  comms.ShowPicture(true, 10, 10);
  EXPECT_TRUE(WaitUntil([&] { return WindowText(stage.preview->window()).find(missing) != std::string::npos; }))
      << "title: " << WindowText(stage.preview->window());
  Sleep(100);  // several frames
  shot = stage.preview->Capture();
  EXPECT_TRUE(shot.Unchanged()) << "a missing picture drew at " << Describe(shot.Changed());
}

INSTANTIATE_TEST_SUITE_P(PreviewPicture, PreviewPicture,
                         ::testing::Values(PictureFormat{"bmp", GUID_ContainerFormatBmp, 0},
                                           PictureFormat{"png", GUID_ContainerFormatPng, 0},
                                           PictureFormat{"gif", GUID_ContainerFormatGif, 0},
                                           PictureFormat{"jpg", GUID_ContainerFormatJpeg, 40}),
                         [](const ::testing::TestParamInfo<PictureFormat>& test) { return test.param.name; });

// Without --size the screen is 800 x 600, and that is what the stand-in reports. A preview that stops
// answering costs each call no more than the stand-in's short wait, and the calls still succeed.
TEST(PreviewStandin, ReportsTheScreenAndNeverWaitsLongForAHungPreview) {
  const fs::path folder = NewRunFolder();
  Preview preview(kPlacement, folder);
  ASSERT_NE(preview.window(), nullptr);
  Comms comms;
  RECT client{};
  GetClientRect(preview.window(), &client);
  EXPECT_EQ(client.right, 800);
  EXPECT_EQ(client.bottom, 600);
  std::int32_t width = 0;
  std::int32_t height = 0;
  comms.Get<overlay::HVSI_GetScreenSize_t>("HVSI_GetScreenSize")(&width, &height);
  EXPECT_EQ(width, 800);
  EXPECT_EQ(height, 600);

  preview.Suspend();
  const ULONGLONG start = GetTickCount64();
  const overlay::bool8 accepted = comms.SetLine(0, 0, "x", 0xFFFFFFFF, false, 20);
  comms.ShowLine(true);
  const ULONGLONG took = GetTickCount64() - start;
  preview.Resume();
  EXPECT_EQ(accepted, 1);
  EXPECT_LT(took, 2500u) << "two calls to a hung preview took " << took << " ms";
  const Trace trace = comms.ReadTrace();
  ASSERT_NE(trace.Find("HVSL_ShowText"), nullptr) << trace.Text();
  EXPECT_EQ(trace.Find("HVSL_ShowText")->Arg("preview"), "no-answer");
  EXPECT_EQ(trace.Find("HVSI_GetScreenSize")->Arg("preview"), "800x600");
}

// The whole way, with the program: the dialog's "Set Text Data" buttons set the texts, and INSERT, HOME and
// END pressed with the preview in front switch the line, the block and the picture (from the dialog's path)
// on and off there.
TEST(PreviewWithProgram, KeysPressedInThePreviewToggleWhatTheDialogSet) {
  Stage stage;
  ASSERT_NE(stage.preview->window(), nullptr);
  const fs::path picture = stage.folder / "picture.bmp";
  WriteBmp(picture, 16, 8, [](int, int) { return 0xE0E020; });
  App app;
  ASSERT_TRUE(app.Start());
  ASSERT_TRUE(app.WaitForDialog());

  ASSERT_TRUE(app.SetText(IDC_LINE_X, "200"));
  ASSERT_TRUE(app.SetText(IDC_LINE_Y, "200"));
  ASSERT_TRUE(app.SetText(IDC_PICTURE_PATH, picture.string()));
  app.Click(IDC_SET_LINE);
  app.Click(IDC_SET_MULTI);  // the block's defaults: red "Line1" to "Line3" in the box at (20, 40), 100 x 100
  ASSERT_TRUE(WaitUntil([&] { return app.ReadTrace().Count("HVML_SetTextMultilineData") == 1; }));

  const RECT lineArea{200, 200, kWidth, kHeight};
  const RECT blockArea{20, 40, 120, 140};
  const RECT pictureArea{10, 10, 26, 18};
  const auto only = [](const RECT& area) {
    return [area](const Shot& s) { return !s.Unchanged() && Inside(s.Changed(), area); };
  };
  Shot shot;

  stage.preview->PressKey(VK_INSERT);
  shot = stage.preview->WaitForShot(only(lineArea));
  EXPECT_TRUE(shot.Has(0xFF0000, lineArea)) << "line not shown; changed " << Describe(shot.Changed());
  EXPECT_EQ(app.Text(IDC_LINE_STATE), "INGAME SINGLE LINE ON");
  stage.preview->PressKey(VK_INSERT);
  shot = stage.preview->WaitForShot([](const Shot& s) { return s.Unchanged(); });
  EXPECT_TRUE(shot.Unchanged()) << "line not hidden; changed " << Describe(shot.Changed());

  stage.preview->PressKey(VK_HOME);
  shot = stage.preview->WaitForShot(only(blockArea));
  EXPECT_TRUE(shot.Has(0xFF0000, blockArea)) << "block not shown; changed " << Describe(shot.Changed());
  stage.preview->PressKey(VK_HOME);
  stage.preview->PressKey(VK_END);
  shot = stage.preview->WaitForShot(only(pictureArea));
  EXPECT_EQ(shot.At(10, 10), 0xE0E020u) << "picture not shown; changed " << Describe(shot.Changed());
  EXPECT_EQ(shot.At(25, 17), 0xE0E020u);
  stage.preview->PressKey(VK_END);
  shot = stage.preview->WaitForShot([](const Shot& s) { return s.Unchanged(); });
  EXPECT_TRUE(shot.Unchanged()) << "picture not hidden; changed " << Describe(shot.Changed());
  EXPECT_EQ(app.Text(IDC_KEY_LOG), "<ins>\r\n<ins>\r\n<home>\r\n<home>\r\n<end>\r\n<end>\r\n");
}

// "Get ScreenSize Info" shows the preview's size unless the script sets one; "Show FPS Info" puts the frame
// rate in the top right corner, and only there, until it is switched off.
TEST(PreviewWithProgram, ScreenSizeAndFpsFigure) {
  Stage stage;
  ASSERT_NE(stage.preview->window(), nullptr);
  App app;
  ASSERT_TRUE(app.Start());
  ASSERT_TRUE(app.WaitForDialog());

  app.Click(IDC_GET_SCREEN_SIZE);
  EXPECT_TRUE(WaitUntil([&] { return app.Text(IDC_SCREEN_SIZE) == "400 x 300"; })) << app.Text(IDC_SCREEN_SIZE);
  app.WriteScript("screen_width=1024\n");
  app.Click(IDC_GET_SCREEN_SIZE);
  EXPECT_TRUE(WaitUntil([&] { return app.Text(IDC_SCREEN_SIZE) == "1024 x 300"; })) << app.Text(IDC_SCREEN_SIZE);

  const RECT corner{kWidth - 120, 0, kWidth, 40};
  app.Click(IDC_SHOW_FPS);
  Shot shot = stage.preview->WaitForShot([](const Shot& s) { return !s.Unchanged(); });
  EXPECT_TRUE(Inside(shot.Changed(), corner)) << "figure at " << Describe(shot.Changed());
  EXPECT_TRUE(shot.Has(0, corner)) << "no figure in the corner";
  app.Click(IDC_SHOW_FPS);
  shot = stage.preview->WaitForShot([](const Shot& s) { return s.Unchanged(); });
  EXPECT_TRUE(shot.Unchanged()) << "figure still at " << Describe(shot.Changed());
  EXPECT_FALSE(app.FindMessageBox().has_value());
}

}  // namespace
}  // namespace e2e
