// Start-up with a library or an entry point missing: the first failure is reported in the error style, the
// program ends after the message is dismissed, and it releases whatever it had loaded.
#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "harness.h"

namespace e2e {
namespace {

constexpr char kCommsNotFound[] = "HVCOMMS.DLL not found !";
constexpr char kCommsExportMissing[] = "HVCOMMS.DLL: One or more exported functions not found !";
constexpr char kHookNotFound[] = "HVHOOK.DLL not found !";
constexpr char kHookExportMissing[] = "HVHOOK.DLL: One or more exported functions not found !";

const std::string kCommsLoaded = "hvcomms.dll:attach";
const std::string kCommsReleased = "hvcomms.dll:detach by=FreeLibrary";
const std::string kHookLoaded = "HVHook.dll:attach";
const std::string kHookReleased = "HVHook.dll:detach by=FreeLibrary";

struct BindingCase {
  std::string name;
  Libraries libraries;
  std::string message;
  std::vector<std::string> trace;  // everything the stand-ins record from start to exit
};

void PrintTo(const BindingCase& c, std::ostream* out) { *out << c.name; }

std::vector<BindingCase> BindingCases() {
  std::vector<BindingCase> cases;
  cases.push_back({"CommsMissing", {"", "full"}, kCommsNotFound, {}});
  for (const char* entryPoint : {"HVSL_SetTextLineData", "HVSL_ShowText", "HVML_SetTextMultilineData",
                                 "HVML_ShowText", "HVPIC_LoadNewPicture", "HVPIC_ShowPicturePos",
                                 "HVSI_GetScreenSize", "HVSI_ShowFPS"}) {
    cases.push_back({std::string("No_") + entryPoint,
                     {std::string("no_") + entryPoint, "full"},
                     kCommsExportMissing,
                     {kCommsLoaded, kCommsReleased}});
  }
  cases.push_back({"HookMissing", {"full", ""}, kHookNotFound, {kCommsLoaded, kCommsReleased}});
  // HookOff is resolved before the pair is tested, so teardown calls it although HookOn is missing.
  cases.push_back({"No_HookOn",
                   {"full", "no_HookOn"},
                   kHookExportMissing,
                   {kCommsLoaded, kHookLoaded, kCommsReleased, "HookOff", kHookReleased}});
  cases.push_back({"No_HookOff",
                   {"full", "no_HookOff"},
                   kHookExportMissing,
                   {kCommsLoaded, kHookLoaded, kCommsReleased, kHookReleased}});
  return cases;
}

class BindingFailure : public ::testing::TestWithParam<BindingCase> {};

TEST_P(BindingFailure, ReportsInErrorStyleEndsAndReleases) {
  const BindingCase& c = GetParam();
  App app(c.libraries);
  ASSERT_TRUE(app.Start());

  std::optional<MessageBoxInfo> box = app.WaitForMessageBox();
  ASSERT_TRUE(box.has_value()) << "no message box; " << (app.Running() ? "still running" : "the program ended")
                               << "\n" << app.ReadTrace().Text();
  EXPECT_EQ(box->text, c.message);
  EXPECT_EQ(box->icon, Icon::Error) << "the box shows " << ToString(box->icon);

  Dismiss(*box);
  std::optional<DWORD> exitCode = app.WaitForExit();
  if (!exitCode) {
    std::optional<MessageBoxInfo> next = app.FindMessageBox();
    FAIL() << "the program did not end after the message was dismissed"
           << (next ? "; another message box says: " + next->text : std::string());
  }
  const Trace trace = app.ReadTrace();
  EXPECT_EQ(trace.Outline(), c.trace) << trace.Text();
}

INSTANTIATE_TEST_SUITE_P(Binding, BindingFailure, ::testing::ValuesIn(BindingCases()),
                         [](const ::testing::TestParamInfo<BindingCase>& test) { return test.param.name; });

// Libraries planted in the working directory are not used: only the program's own folder and the system's
// are searched.
TEST(Binding, IgnoresLibrariesInTheWorkingDirectory) {
  Libraries planted;
  planted.inWorkingDirectory = true;
  App app(planted);
  ASSERT_TRUE(app.Start());

  std::optional<MessageBoxInfo> box = app.WaitForMessageBox();
  ASSERT_TRUE(box.has_value()) << (app.Running() ? "still running, no message box" : "the program ended");
  EXPECT_EQ(box->text, kCommsNotFound);
  EXPECT_EQ(box->icon, Icon::Error) << "the box shows " << ToString(box->icon);
  Dismiss(*box);
  EXPECT_TRUE(app.WaitForExit().has_value());
  EXPECT_FALSE(std::filesystem::exists(app.workingDirectory() / "trace.log")) << app.ReadTrace().Text();
}

}  // namespace
}  // namespace e2e
