// The window chrome of the main dialog, driven from outside: the About box run from the system menu and the
// dialog's state around it, where both dialogs open, the window icons, minimising and restoring, and
// screenshots of both dialogs checked for facts that do not depend on the theme: sizes in pixels from dialog
// units, and the program's icon where it must be drawn. The screenshots are kept in the build folder's
// screenshots/ for a look.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "harness.h"
#include "overlay/hotkey_message.h"
#include "res/resource.h"

namespace fs = std::filesystem;

namespace e2e {
namespace {

constexpr wchar_t kAboutTitle[] = L"Info \u00FCber va_vazu";
// What the communication stand-in reports as the screen size unless told otherwise.
constexpr char kStandinScreenSize[] = "800 x 600";

// The answer to a message sent to the program, or nothing when it does not answer in time.
std::optional<LRESULT> Ask(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
  DWORD_PTR answer = 0;
  if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 2000, &answer)) return std::nullopt;
  return static_cast<LRESULT>(answer);
}

// Read as UTF-16, so the comparison does not depend on this process's code page.
std::wstring WideText(HWND window) {
  wchar_t text[256] = L"";
  if (!Ask(window, WM_GETTEXT, sizeof text / sizeof text[0], reinterpret_cast<LPARAM>(text))) return L"<no answer>";
  return text;
}

HWND OpenAboutBox(const App& app, WPARAM command = IDM_ABOUT) {
  // Posted: the handler runs the About box modally and returns only when it is closed.
  PostMessageA(app.dialog(), WM_SYSCOMMAND, command, 0);
  HWND about = nullptr;
  WaitUntil([&] { return (about = app.FindBox()) != nullptr || !app.Running(); });
  return about;
}

// Posts a click of "Get ScreenSize Info" after whatever was posted to the dialog before, and waits until the
// communication library has been asked: the program handles posted messages in order, so everything posted
// before has been handled by then.
bool WaitForPostedMessages(const App& app) {
  const int before = app.ReadTrace().Count("HVSI_GetScreenSize");
  PostMessageA(app.dialog(), WM_COMMAND, MAKEWPARAM(IDC_GET_SCREEN_SIZE, BN_CLICKED),
               reinterpret_cast<LPARAM>(app.Control(IDC_GET_SCREEN_SIZE)));
  return WaitUntil([&] { return app.ReadTrace().Count("HVSI_GetScreenSize") > before; });
}

// The children of a window with that class.
std::vector<HWND> ChildrenOf(HWND parent, const char* className) {
  std::vector<HWND> found;
  for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (ClassName(child) == className) found.push_back(child);
  }
  return found;
}

HWND IconControlOf(HWND dialog) {
  for (HWND child : ChildrenOf(dialog, "Static")) {
    if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) return child;
  }
  return nullptr;
}

// A window's rectangle in the client coordinates of its parent.
RECT RectInParent(HWND child) {
  RECT rect{};
  GetWindowRect(child, &rect);
  MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

// ---------------------------------------------------------------------------------------------------------
// Dialog units

INT_PTR CALLBACK NoHandling(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

// Pixels of a rectangle given in dialog units of the program's dialog font, 8-point "MS Shell Dlg", as the
// system's dialog manager computes them: a hidden dialog with that font is created here and asked.
RECT DialogUnitsToPixels(int x, int y, int width, int height) {
  // An extended template without controls: version, signature, help id, extended style, style, item count,
  // position and size, no menu, the standard class, no title, then the font.
  const DWORD style = DS_SETFONT | DS_FIXEDSYS | DS_MODALFRAME | WS_POPUP | WS_CAPTION;
  std::vector<WORD> words = {1, 0xFFFF, 0, 0, 0, 0, LOWORD(style), HIWORD(style), 0, 0, 0, 10, 10, 0, 0, 0,
                             8,     // points
                             0,     // weight
                             0x0100};  // not italic; character set 1 (the default one)
  for (const wchar_t* c = L"MS Shell Dlg"; *c; ++c) words.push_back(static_cast<WORD>(*c));
  words.push_back(0);

  RECT rect{x, y, x + width, y + height};
  HWND probe = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                          reinterpret_cast<LPCDLGTEMPLATEW>(words.data()), nullptr, NoHandling, 0);
  if (!probe || !MapDialogRect(probe, &rect)) ADD_FAILURE() << "cannot map dialog units here";
  if (probe) DestroyWindow(probe);
  return rect;
}

// Rectangles are compared in this form, so a failure shows both.
std::string Text(const RECT& rect) {
  return "(" + std::to_string(rect.left) + ", " + std::to_string(rect.top) + ")-(" + std::to_string(rect.right) +
         ", " + std::to_string(rect.bottom) + ")";
}

// ---------------------------------------------------------------------------------------------------------
// Screenshots and the icon

fs::path ScreenshotFile(const char* name) { return BinFolder().parent_path() / "screenshots" / name; }

// The program's icon as drawn here at a given size: each pixel's colour, and whether it belongs to the icon
// (the same colour when drawn on black and on white) or lets the background through.
struct IconPicture {
  int size = 0;
  std::vector<std::uint32_t> colour;
  std::vector<bool> opaque;
};

// The icon drawn here on a plain background, as 0xRRGGBB pixels.
std::vector<std::uint32_t> DrawOn(COLORREF background, HICON icon, int size) {
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, size, size);
  ReleaseDC(nullptr, screen);
  HGDIOBJ old = SelectObject(memory, bitmap);
  const RECT all{0, 0, size, size};
  HBRUSH brush = CreateSolidBrush(background);
  FillRect(memory, &all, brush);
  DeleteObject(brush);
  DrawIconEx(memory, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL);
  std::vector<std::uint32_t> pixels;
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      const COLORREF c = GetPixel(memory, x, y);
      pixels.push_back((static_cast<std::uint32_t>(GetRValue(c)) << 16) | (GetGValue(c) << 8) | GetBValue(c));
    }
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  return pixels;
}

IconPicture DrawIconHere(HICON icon, int size) {
  IconPicture picture;
  picture.size = size;
  picture.colour = DrawOn(RGB(0, 0, 0), icon, size);
  const std::vector<std::uint32_t> onWhite = DrawOn(RGB(255, 255, 255), icon, size);
  for (std::size_t i = 0; i < onWhite.size(); ++i) picture.opaque.push_back(onWhite[i] == picture.colour[i]);
  return picture;
}

// The program's icon 128 as the program loads it (the standard icon size), drawn at `size`; and, for a small
// size, also the icon's own image of that size, as the system may use either.
std::vector<IconPicture> ProgramIcon(int size) {
  std::vector<IconPicture> pictures;
  HMODULE program = LoadLibraryExA((BinFolder() / "va_vazu.exe").string().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!program) return pictures;
  if (HICON standard = LoadIconA(program, MAKEINTRESOURCEA(IDI_APP))) pictures.push_back(DrawIconHere(standard, size));
  if (size != GetSystemMetrics(SM_CXICON)) {
    if (HANDLE own = LoadImageA(program, MAKEINTRESOURCEA(IDI_APP), IMAGE_ICON, size, size, 0)) {
      pictures.push_back(DrawIconHere(static_cast<HICON>(own), size));
      DestroyIcon(static_cast<HICON>(own));
    }
  }
  FreeLibrary(program);
  return pictures;
}

// The share of the icon's own pixels that the screenshot shows with the icon's top-left corner at a point.
double IconMatch(const Screenshot& shot, const IconPicture& icon, int screenX, int screenY) {
  int own = 0;
  int same = 0;
  for (int y = 0; y < icon.size; ++y) {
    for (int x = 0; x < icon.size; ++x) {
      const std::size_t i = static_cast<std::size_t>(y * icon.size + x);
      if (!icon.opaque[i]) continue;
      ++own;
      same += shot.At(screenX + x, screenY + y) == icon.colour[i] ? 1 : 0;
    }
  }
  return own > 0 ? static_cast<double>(same) / own : 0.0;
}

// Nearly all of the icon's pixels: drawing here and in the program goes the same way.
constexpr double kIconShown = 0.95;

// The best match of any of the pictures with the top-left corner anywhere in `area` (screen coordinates).
double BestIconMatch(const Screenshot& shot, const std::vector<IconPicture>& pictures, const RECT& area) {
  double best = 0.0;
  for (const IconPicture& picture : pictures) {
    for (int y = area.top; y < area.bottom; ++y) {
      for (int x = area.left; x < area.right; ++x) {
        const double match = IconMatch(shot, picture, x, y);
        if (match > best) best = match;
      }
    }
  }
  return best;
}

// Waits until `shown` holds for a shot of the window, and then until the window's painting has settled (two
// shots in a row alike), and keeps that shot in `file`. Returns whether `shown` held.
template <class Predicate>
bool ShotOfWindow(HWND window, const fs::path& file, Predicate shown) {
  RECT rect{};
  GetWindowRect(window, &rect);
  const bool held = WaitUntil([&] { return shown(Screenshot(rect)); }, 2000);
  Screenshot last(rect);
  WaitUntil(
      [&] {
        Sleep(50);
        Screenshot next(rect);
        const bool settled = next == last;
        last = std::move(next);
        return settled;
      },
      2000);
  last.Save(file);
  return held;
}

// How well the program's icon, in the small size, shows at the left end of the window's title bar (the
// minimised window is all title bar); the screenshot is kept under that name.
double TitleBarIconMatch(HWND window, const char* screenshotName) {
  const int size = GetSystemMetrics(SM_CXSMICON);
  const std::vector<IconPicture> pictures = ProgramIcon(size);
  if (pictures.empty()) {
    ADD_FAILURE() << "cannot load the icon from va_vazu.exe here";
    return 0.0;
  }
  RECT bounds{};
  GetWindowRect(window, &bounds);
  const RECT corner{bounds.left, bounds.top, bounds.left + 3 * size,
                    bounds.top + std::min<LONG>(3 * size, bounds.bottom - bounds.top)};
  double match = 0.0;
  ShotOfWindow(window, ScreenshotFile(screenshotName), [&](const Screenshot& shot) {
    match = BestIconMatch(shot, pictures, corner);
    return match >= kIconShown;
  });
  return match;
}

// ---------------------------------------------------------------------------------------------------------
// The About box

struct AboutCase {
  const char* name;
  WPARAM command;
  bool closeWithEscape;
};

void PrintTo(const AboutCase& c, std::ostream* out) { *out << c.name; }

class ChromeAbout : public ::testing::TestWithParam<AboutCase> {};

// The About box runs modally over the main dialog: the dialog is disabled while it is open, makes no library
// call for it, and afterwards is enabled, active and working again. It can be opened again and again.
TEST_P(ChromeAbout, OpensFromSystemMenuAndReturnsToTheDialog) {
  App app;
  ASSERT_TRUE(app.Start());
  HWND dialog = app.WaitForDialog();
  ASSERT_TRUE(dialog);
  const std::vector<std::string> startup = app.ReadTrace().Outline();

  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    HWND about = OpenAboutBox(app, GetParam().command);
    ASSERT_TRUE(about) << "no About box";
    EXPECT_EQ(WideText(about), kAboutTitle);
    EXPECT_EQ(GetWindow(about, GW_OWNER), dialog);
    EXPECT_FALSE(IsWindowEnabled(dialog));
    EXPECT_TRUE(WaitUntil([&] { return GetForegroundWindow() == about; }, 1000));

    if (GetParam().closeWithEscape) {
      PostKey(about, VK_ESCAPE);
    } else {
      PostClick(GetDlgItem(about, IDOK));
    }
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(about); })) << "the About box stayed open";
    ASSERT_TRUE(app.Running());
    EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(dialog) != FALSE; }, 1000));
    EXPECT_TRUE(WaitUntil([&] { return GetForegroundWindow() == dialog; }, 1000));
  }
  EXPECT_EQ(app.ReadTrace().Outline(), startup);

  app.Click(IDC_GET_SCREEN_SIZE);
  EXPECT_TRUE(WaitUntil([&] { return app.Text(IDC_SCREEN_SIZE) == kStandinScreenSize; }))
      << "the dialog does not work after the About box: " << app.Text(IDC_SCREEN_SIZE);
  EXPECT_FALSE(app.FindMessageBox().has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Chrome, ChromeAbout,
    ::testing::Values(AboutCase{"OkButton", IDM_ABOUT, false},
                      // The low four bits of a system command are the system's own and do not matter.
                      AboutCase{"EscapeWithSystemBits", IDM_ABOUT | 0x000F, true}),
    [](const ::testing::TestParamInfo<AboutCase>& testInfo) { return std::string(testInfo.param.name); });

// The About box's nested loop goes on handling the main dialog's messages: the hook library's message for a
// key that is no hotkey is answered and changes nothing, and a command posted to the dialog is carried out.
TEST(Chrome, DialogHandlesMessagesWhileAboutBoxIsOpen) {
  App app;
  ASSERT_TRUE(app.Start());
  HWND dialog = app.WaitForDialog();
  ASSERT_TRUE(dialog);
  HWND about = OpenAboutBox(app);
  ASSERT_TRUE(about) << "no About box";

  const std::optional<LRESULT> answer = Ask(dialog, WM_HOOKKEY, 'A', 0);
  ASSERT_TRUE(answer.has_value()) << "the hotkey message was not answered";
  EXPECT_EQ(*answer, 0);
  PostMessageA(dialog, WM_HOOKKEY, 'A', 0);
  ASSERT_TRUE(WaitForPostedMessages(app)) << "a command posted to the dialog was not carried out";
  EXPECT_TRUE(WaitUntil([&] { return app.Text(IDC_SCREEN_SIZE) == kStandinScreenSize; }, 1000));
  EXPECT_EQ(app.Text(IDC_KEY_LOG), "");
  EXPECT_EQ(app.Text(IDC_LINE_STATE), "INGAME SINGLE LINE OFF");
  EXPECT_EQ(app.Text(IDC_MULTI_STATE), "INGAME MULTILINE OFF");
  const Trace trace = app.ReadTrace();
  EXPECT_EQ(trace.Count("HVSL_ShowText") + trace.Count("HVML_ShowText") + trace.Count("HVPIC_ShowPicturePos"), 2)
      << trace.Text();

  EXPECT_TRUE(IsWindowVisible(about));
  EXPECT_FALSE(IsWindowEnabled(dialog));
  PostClick(GetDlgItem(about, IDOK));
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(about); }));
}

// The About box's contents and layout, and its screenshot showing the program's icon in the icon control.
TEST(Chrome, AboutBoxShowsNameNoticeOkAndIcon) {
  App app;
  ASSERT_TRUE(app.Start());
  ASSERT_TRUE(app.WaitForDialog());
  HWND about = OpenAboutBox(app);
  ASSERT_TRUE(about) << "no About box";

  std::vector<std::string> texts;
  for (HWND label : ChildrenOf(about, "Static")) {
    if ((GetWindowLongA(label, GWL_STYLE) & SS_TYPEMASK) == SS_LEFT) texts.push_back(WindowText(label));
  }
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], "Holvane Demo App");
  EXPECT_NE(texts[1], "") << "no notice line";
  HWND ok = GetDlgItem(about, IDOK);
  EXPECT_EQ(WindowText(ok), "OK");
  EXPECT_EQ(GetWindowLongA(ok, GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON);
  HWND iconControl = IconControlOf(about);
  ASSERT_TRUE(iconControl) << "no icon control";
  const std::optional<LRESULT> icon = Ask(iconControl, STM_GETICON);
  ASSERT_TRUE(icon.has_value());
  EXPECT_NE(*icon, 0) << "the icon control has no icon";

  RECT client{};
  GetClientRect(about, &client);
  EXPECT_EQ(Text(client), Text(DialogUnitsToPixels(0, 0, 235, 55)));
  EXPECT_EQ(Text(RectInParent(ok)), Text(DialogUnitsToPixels(178, 7, 50, 16)));
  const RECT iconUnits = DialogUnitsToPixels(11, 17, 20, 20);
  const RECT iconRect = RectInParent(iconControl);
  EXPECT_EQ(iconRect.left, iconUnits.left);
  EXPECT_EQ(iconRect.top, iconUnits.top);

  // The control draws the icon at its top-left corner, in the standard icon size.
  const std::vector<IconPicture> pictures = ProgramIcon(GetSystemMetrics(SM_CXICON));
  ASSERT_FALSE(pictures.empty()) << "cannot load the icon from va_vazu.exe here";
  RECT iconOnScreen{};
  GetWindowRect(iconControl, &iconOnScreen);
  double match = 0.0;
  EXPECT_TRUE(ShotOfWindow(about, ScreenshotFile("about_box.bmp"), [&](const Screenshot& shot) {
    match = IconMatch(shot, pictures[0], iconOnScreen.left, iconOnScreen.top);
    return match >= kIconShown;
  })) << "the icon control does not show the program's icon (match " << match << "); see "
      << ScreenshotFile("about_box.bmp").string();

  PostClick(ok);
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(about); }));
}

// ---------------------------------------------------------------------------------------------------------
// Where the dialogs open

// Within a pixel in each direction; the centres are compared doubled, so that they stay whole numbers.
::testing::AssertionResult CentredOn(HWND window, const RECT& on) {
  RECT rect{};
  GetWindowRect(window, &rect);
  if (std::abs((rect.left + rect.right) - (on.left + on.right)) <= 2 &&
      std::abs((rect.top + rect.bottom) - (on.top + on.bottom)) <= 2) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << Text(rect) << " is not centred on " << Text(on);
}

// The main dialog opens in the middle of the work area of its monitor, the About box in the middle of the
// main dialog.
TEST(Chrome, DialogsOpenCentred) {
  App app;
  ASSERT_TRUE(app.Start());
  HWND dialog = app.WaitForDialog();
  ASSERT_TRUE(dialog);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  ASSERT_TRUE(GetMonitorInfoA(MonitorFromWindow(dialog, MONITOR_DEFAULTTONEAREST), &monitor));
  EXPECT_TRUE(CentredOn(dialog, monitor.rcWork)) << "main dialog";

  HWND about = OpenAboutBox(app);
  ASSERT_TRUE(about) << "no About box";
  RECT main{};
  GetWindowRect(dialog, &main);
  EXPECT_TRUE(CentredOn(about, main)) << "About box";
  PostClick(GetDlgItem(about, IDOK));
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(about); }));
}

// ---------------------------------------------------------------------------------------------------------
// The main dialog: size, icon, minimising

// The main dialog has the size of its template in its font, and its title bar shows the program's icon.
TEST(Chrome, MainDialogHasTemplateSizeAndIconInTitleBar) {
  App app;
  ASSERT_TRUE(app.Start());
  HWND dialog = app.WaitForDialog();
  ASSERT_TRUE(dialog);

  RECT client{};
  GetClientRect(dialog, &client);
  EXPECT_EQ(Text(client), Text(DialogUnitsToPixels(0, 0, 430, 370)));
  EXPECT_EQ(Text(RectInParent(app.Control(IDOK))), Text(DialogUnitsToPixels(186, 348, 50, 16)));
  EXPECT_GE(TitleBarIconMatch(dialog, "main_dialog.bmp"), kIconShown)
      << "the title bar does not show the program's icon; see " << ScreenshotFile("main_dialog.bmp").string();
}

// Minimising and restoring are left to the system and work as usual; the minimised dialog shows the program's
// icon, and its own painting while minimised answers and leaves it minimised.
TEST(Chrome, MinimisesAndRestoresWithItsIcon) {
  App app;
  ASSERT_TRUE(app.Start());
  HWND dialog = app.WaitForDialog();
  ASSERT_TRUE(dialog);
  RECT restoredClient{};
  GetClientRect(dialog, &restoredClient);

  PostMessageA(dialog, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  // Until the system has also moved it and made it small.
  const auto minimised = [&] {
    RECT client{};
    GetClientRect(dialog, &client);
    return IsIconic(dialog) != FALSE && IsRectEmpty(&client) != FALSE;
  };
  ASSERT_TRUE(WaitUntil(minimised)) << "not minimised";
  EXPECT_GE(TitleBarIconMatch(dialog, "minimised.bmp"), kIconShown)
      << "the minimised dialog does not show the program's icon; see " << ScreenshotFile("minimised.bmp").string();
  RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME);
  EXPECT_TRUE(Ask(dialog, WM_PAINT).has_value()) << "no answer to painting while minimised";
  EXPECT_TRUE(IsIconic(dialog));

  PostMessageA(dialog, WM_SYSCOMMAND, SC_RESTORE, 0);
  RECT client{};
  const auto restored = [&] {
    GetClientRect(dialog, &client);
    return IsIconic(dialog) == FALSE && EqualRect(&client, &restoredClient) != FALSE;
  };
  EXPECT_TRUE(WaitUntil(restored)) << "not restored";
  EXPECT_FALSE(IsIconic(dialog));
  EXPECT_EQ(Text(client), Text(restoredClient));
  EXPECT_TRUE(IsWindowVisible(dialog));

  app.Click(IDC_GET_SCREEN_SIZE);
  EXPECT_TRUE(WaitUntil([&] { return app.Text(IDC_SCREEN_SIZE) == kStandinScreenSize; }))
      << "the dialog does not work after restoring: " << app.Text(IDC_SCREEN_SIZE);
}

}  // namespace
}  // namespace e2e
