// Ending the program: every way the user can close the dialog releases the communication library, then
// unhooks and releases the hook library; a field that fails validation keeps CLOSE from ending it.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "harness.h"
#include "res/resource.h"

namespace e2e {
namespace {

const std::vector<std::string> kStartup = {"hvcomms.dll:attach", "HVHook.dll:attach", "HVSL_ShowText",
                                           "HVML_ShowText", "HookOn"};
const std::vector<std::string> kTeardown = {"hvcomms.dll:detach by=FreeLibrary", "HookOff",
                                            "HVHook.dll:detach by=FreeLibrary"};

std::vector<std::string> StartupThenTeardown() {
  std::vector<std::string> all = kStartup;
  all.insert(all.end(), kTeardown.begin(), kTeardown.end());
  return all;
}

struct CloseCase {
  std::string name;
  std::function<void(App&)> close;
};

void PrintTo(const CloseCase& c, std::ostream* out) { *out << c.name; }

class Closing : public ::testing::TestWithParam<CloseCase> {};

TEST_P(Closing, EndsWithTeardownInOrder) {
  App app;
  ASSERT_TRUE(app.Start());
  ASSERT_TRUE(app.WaitForDialog());

  GetParam().close(app);
  std::optional<DWORD> exitCode = app.WaitForExit();
  if (!exitCode) {
    std::optional<MessageBoxInfo> box = app.FindMessageBox();
    FAIL() << "the program did not end" << (box ? "; a message box says: " + box->text : std::string());
  }
  EXPECT_EQ(*exitCode, 0u);
  const Trace trace = app.ReadTrace();
  EXPECT_EQ(trace.Outline(), StartupThenTeardown()) << trace.Text();
}

INSTANTIATE_TEST_SUITE_P(
    Closing, Closing,
    ::testing::Values(CloseCase{"CloseButton", [](App& app) { app.Click(IDOK); }},
                      // Enter in any box but the multiline text activates the default button, CLOSE.
                      CloseCase{"EnterInLineText", [](App& app) { app.PressKey(IDC_LINE_TEXT, VK_RETURN); }},
                      CloseCase{"EnterInColourBox", [](App& app) { app.PressKey(IDC_MULTI_ALPHA, VK_RETURN); }},
                      CloseCase{"EnterInKeyLog", [](App& app) { app.PressKey(IDC_KEY_LOG, VK_RETURN); }},
                      CloseCase{"Escape", [](App& app) { app.PressKey(IDC_LINE_TEXT, VK_ESCAPE); }},
                      CloseCase{"SystemClose",
                                [](App& app) { PostMessageA(app.dialog(), WM_SYSCOMMAND, SC_CLOSE, 0); }},
                      CloseCase{"WmClose", [](App& app) { PostMessageA(app.dialog(), WM_CLOSE, 0, 0); }}),
    [](const ::testing::TestParamInfo<CloseCase>& test) { return test.param.name; });

struct InvalidField {
  std::string name;
  int id;
  std::string text;
};

void PrintTo(const InvalidField& f, std::ostream* out) { *out << f.name; }

class ClosingWithInvalidField : public ::testing::TestWithParam<InvalidField> {};

// CLOSE reads all fields; a rejected one is reported, gets the focus with its text selected, and the dialog
// stays open until Escape, which ends it without reading.
TEST_P(ClosingWithInvalidField, StaysOpenUntilEscape) {
  const InvalidField& field = GetParam();
  App app;
  ASSERT_TRUE(app.Start());
  ASSERT_TRUE(app.WaitForDialog());
  ASSERT_TRUE(app.SetText(field.id, field.text));

  app.Click(IDOK);
  std::optional<MessageBoxInfo> box = app.WaitForMessageBox();
  ASSERT_TRUE(box.has_value()) << (app.Running() ? "no message box" : "the program ended");
  Dismiss(*box);

  HWND control = app.Control(field.id);
  EXPECT_TRUE(WaitUntil([&] { return app.FocusedWindow() == control; }, 2000)) << "the focus is not on the field";
  EXPECT_TRUE(app.Running());
  EXPECT_TRUE(IsWindowVisible(app.dialog()));
  EXPECT_FALSE(app.FindMessageBox().has_value());
  DWORD_PTR selection = 0;
  SendMessageTimeoutA(control, EM_GETSEL, 0, 0, SMTO_ABORTIFHUNG, 2000, &selection);
  EXPECT_EQ(LOWORD(selection), 0u);
  EXPECT_EQ(HIWORD(selection), field.text.size()) << "the whole text should be selected";
  EXPECT_EQ(app.ReadTrace().Outline(), kStartup) << "nothing is called while the dialog stays open";

  app.PressKey(0, VK_ESCAPE);
  std::optional<DWORD> exitCode = app.WaitForExit();
  ASSERT_TRUE(exitCode.has_value()) << "Escape did not end the program";
  EXPECT_EQ(*exitCode, 0u);
  EXPECT_EQ(app.ReadTrace().Outline(), StartupThenTeardown());
}

INSTANTIATE_TEST_SUITE_P(Closing, ClosingWithInvalidField,
                         ::testing::Values(InvalidField{"ColourAbove255", IDC_LINE_RED, "300"},
                                           InvalidField{"PositionNotANumber", IDC_MULTI_X, "abc"}),
                         [](const ::testing::TestParamInfo<InvalidField>& test) { return test.param.name; });

// The multiline text box takes Enter as a new line, so Enter there does not close the dialog.
TEST(Closing, EnterInMultilineTextAddsALine) {
  App app;
  ASSERT_TRUE(app.Start());
  ASSERT_TRUE(app.WaitForDialog());
  const std::string before = app.Text(IDC_MULTI_TEXT);
  app.PressKey(IDC_MULTI_TEXT, VK_RETURN);
  EXPECT_TRUE(WaitUntil([&] { return app.Text(IDC_MULTI_TEXT) != before; }, 2000)) << "Enter did not reach the box";
  EXPECT_NE(app.Text(IDC_MULTI_TEXT).find("\r\n"), std::string::npos);
  EXPECT_FALSE(app.WaitForExit(300).has_value()) << "Enter in the multiline text box ended the program";
}

}  // namespace
}  // namespace e2e

namespace e2e {
namespace {

// A text far too large for Wine to carry into another process makes the program's message fetch fail. That
// failed fetch must not be taken for the end of the dialog: the program stays open and closes as usual.
TEST(ClosingNot, OnAMessageTooLargeToFetch) {
  App app;
  ASSERT_TRUE(app.Start());
  ASSERT_TRUE(app.WaitForDialog());
  DWORD_PTR ignored = 0;
  const std::string huge(3u << 20, 'x');
  SendMessageTimeoutA(app.Control(IDC_LINE_TEXT), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(huge.c_str()),
                      SMTO_ABORTIFHUNG, 3000, &ignored);
  EXPECT_TRUE(app.Running());
  EXPECT_FALSE(app.WaitForExit(500).has_value()) << "the dialog ended on its own";
  EXPECT_TRUE(app.SetText(IDC_MULTI_X, "7"));
  app.Click(IDOK);
  const std::optional<DWORD> exitCode = app.WaitForExit();
  ASSERT_TRUE(exitCode.has_value());
  EXPECT_EQ(*exitCode, 0u);
  EXPECT_EQ(app.ReadTrace().Outline(), StartupThenTeardown());
}

}  // namespace
}  // namespace e2e
