// A normal start with both libraries: what the dialog shows and what the program asks of the libraries.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"
#include "res/resource.h"

namespace e2e {
namespace {

std::string HexHandle(HWND window) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(window)));
  return text;
}

TEST(Startup, DialogShowsInitialValues) {
  App app;
  ASSERT_TRUE(app.Start());
  ASSERT_TRUE(app.WaitForDialog());

  const struct {
    int id;
    const char* text;
  } boxes[] = {
      {IDC_LINE_TEXT, "this is a test"}, {IDC_LINE_X, "0"},           {IDC_LINE_Y, "0"},
      {IDC_LINE_RED, "255"},             {IDC_LINE_GREEN, "0"},       {IDC_LINE_BLUE, "0"},
      {IDC_LINE_ALPHA, "255"},           {IDC_LINE_SIZE, "20"},       {IDC_KEY_LOG, ""},
      {IDC_MULTI_TEXT, "Line1\r\nLine2\r\nLine3"},                    {IDC_MULTI_X, "20"},
      {IDC_MULTI_Y, "40"},               {IDC_MULTI_WIDTH, "100"},    {IDC_MULTI_HEIGHT, "100"},
      {IDC_MULTI_FONTSIZE, "0"},         {IDC_MULTI_RED, "255"},      {IDC_MULTI_GREEN, "0"},
      {IDC_MULTI_BLUE, "0"},             {IDC_MULTI_ALPHA, "255"},    {IDC_PICTURE_PATH, "C:\\test.jpg"},
      {IDC_SCREEN_SIZE, ""},             {IDC_LINE_STATE, "INGAME SINGLE LINE OFF"},
      {IDC_MULTI_STATE, "INGAME MULTILINE OFF"},
  };
  for (const auto& box : boxes) EXPECT_EQ(app.Text(box.id), box.text) << "control " << box.id;

  const struct {
    int id;
    int state;
  } buttons[] = {
      {IDC_LINE_PROPORTIONAL, BST_CHECKED},  {IDC_LINE_MONOSPACE, BST_UNCHECKED},
      {IDC_MULTI_PROPORTIONAL, BST_CHECKED}, {IDC_MULTI_MONOSPACE, BST_UNCHECKED},
      {IDC_LINE_BLACKBG, BST_UNCHECKED},     {IDC_LINE_BOLD, BST_UNCHECKED},
      {IDC_MULTI_BLACKBG, BST_UNCHECKED},    {IDC_MULTI_BOLD, BST_UNCHECKED},
      {IDC_SHOW_FPS, BST_UNCHECKED},
  };
  for (const auto& button : buttons) EXPECT_EQ(app.CheckState(button.id), button.state) << "control " << button.id;

  EXPECT_FALSE(app.FindMessageBox().has_value()) << "a message box came up: " << app.FindMessageBox()->text;
}

// Both libraries are loaded, both texts hidden, then the keyboard hooked for the dialog itself, and nothing else.
TEST(Startup, BindsLibrariesHidesTextsAndHooksTheDialog) {
  App app;
  ASSERT_TRUE(app.Start());
  ASSERT_TRUE(app.WaitForDialog());

  const Trace trace = app.ReadTrace();
  ASSERT_EQ(trace.Outline(), (std::vector<std::string>{"hvcomms.dll:attach", "HVHook.dll:attach", "HVSL_ShowText",
                                                       "HVML_ShowText", "HookOn"}))
      << trace.Text();
  EXPECT_EQ(trace.events()[2].Arg("show"), "0");
  EXPECT_EQ(trace.events()[3].Arg("show"), "0");
  EXPECT_EQ(trace.events()[4].Arg("window"), HexHandle(app.dialog()));
  EXPECT_EQ(trace.events()[4].Arg("reserved"), "0");
}

// The system menu as the hook stand-in saw it when the program hooked the keyboard: it ends with a separator
// and the About entry (command 0x0010; the text is in code page 1252, 0xFC being the u with diaeresis).
TEST(Startup, SystemMenuEndsWithAboutEntry) {
  App app;
  ASSERT_TRUE(app.Start());
  ASSERT_TRUE(app.WaitForDialog());

  const Trace trace = app.ReadTrace();
  const TraceEvent* hookOn = trace.Find("HookOn");
  ASSERT_NE(hookOn, nullptr) << trace.Text();
  std::vector<std::string> items;
  std::istringstream menu(hookOn->Arg("sysmenu"));
  for (std::string item; std::getline(menu, item);) items.push_back(item);
  ASSERT_GE(items.size(), 3u) << hookOn->line;
  EXPECT_EQ(items[items.size() - 2], "----") << hookOn->line;
  EXPECT_EQ(items.back(), "0x0010 &Info \xFC" "ber va_vazu...") << hookOn->line;
}

// The About entry as the program holds it, in UTF-16: the string table's text in every ANSI code page (the
// ctest entries e2e.cp932 and e2e.cp65001 run this under 932 and 65001), where the ANSI calls would make its
// "ü" a "u" in each that lacks the letter.
TEST(StartupCodePage, SystemMenuHoldsTheAboutEntryExactly) {
  App app;
  ASSERT_TRUE(app.Start());
  ASSERT_TRUE(app.WaitForDialog());

  const std::vector<std::wstring> items = app.SystemMenuItems();
  ASSERT_GE(items.size(), 3u);
  EXPECT_EQ(items[items.size() - 2], L"----");
  EXPECT_EQ(items.back(), L"&Info \u00FCber va_vazu...") << "code page " << GetACP();
}

// The program reads only the low byte of a result, so results the libraries may return in full 32 bits
// change nothing at start-up.
TEST(Startup, IgnoresResultsOfShowTextAndHookOn) {
  App app;
  app.WriteScript("HVSL_ShowText=0\nHVML_ShowText=0xFFFFFF00\nHookOn=0\n");
  ASSERT_TRUE(app.Start());
  ASSERT_TRUE(app.WaitForDialog());
  EXPECT_EQ(app.Text(IDC_LINE_STATE), "INGAME SINGLE LINE OFF");
  EXPECT_EQ(app.Text(IDC_MULTI_STATE), "INGAME MULTILINE OFF");
  EXPECT_FALSE(app.FindMessageBox().has_value());
}

}  // namespace
}  // namespace e2e
