// The stand-in libraries on their own, loaded into this process: each variant exports exactly the intended
// entry points, the trace records calls as the harness reads them, and the script sets results and sizes.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "harness.h"
#include "overlay/overlay_api.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kCommsEntryPoints = {
    "HVSL_SetTextLineData", "HVSL_ShowText",      "HVML_SetTextMultilineData", "HVML_ShowText",
    "HVPIC_LoadNewPicture", "HVPIC_ShowPicturePos", "HVSI_GetScreenSize",       "HVSI_ShowFPS"};
const std::vector<std::string> kHookEntryPoints = {"HookOn", "HookOff"};

// A copy of one stand-in in a fresh folder, loaded into this process; its trace and script are in that folder.
class LoadedStandin {
 public:
  LoadedStandin(const std::string& variant, const std::string& file) : folder_(NewRunFolder()) {
    fs::copy_file(BinFolder() / "standins" / variant / file, folder_ / file);
    module_ = LoadLibraryA((folder_ / file).string().c_str());
  }
  ~LoadedStandin() {
    Free();
    std::error_code error;
    fs::remove_all(folder_, error);
  }
  LoadedStandin(const LoadedStandin&) = delete;
  LoadedStandin& operator=(const LoadedStandin&) = delete;

  HMODULE module() const { return module_; }
  template <class Function>
  Function Get(const char* name) const {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
  }
  void Free() {
    if (module_) FreeLibrary(module_);
    module_ = nullptr;
  }
  void WriteScript(const std::string& content) const {
    std::ofstream(folder_ / "standin.ini", std::ios::binary | std::ios::trunc) << content;
  }
  Trace ReadTrace() const { return Trace::Load(folder_ / "trace.log"); }

 private:
  fs::path folder_;
  HMODULE module_ = nullptr;
};

struct Variant {
  std::string folder;
  std::string file;
  std::string missing;  // the entry point this variant lacks, or empty
};

void PrintTo(const Variant& v, std::ostream* out) { *out << v.folder << "/" << v.file; }

class StandinsExports : public ::testing::TestWithParam<Variant> {};

TEST_P(StandinsExports, ExportsAllButTheMissingEntryPoint) {
  const Variant& v = GetParam();
  {
    LoadedStandin dll(v.folder, v.file);
    ASSERT_NE(dll.module(), nullptr);
    const bool comms = v.file == "hvcomms.dll";
    for (const std::string& name : comms ? kCommsEntryPoints : kHookEntryPoints) {
      const bool present = GetProcAddress(dll.module(), name.c_str()) != nullptr;
      EXPECT_EQ(present, name != v.missing) << name;
    }
    dll.Free();
    const std::string library = comms ? "hvcomms.dll" : "HVHook.dll";
    EXPECT_EQ(dll.ReadTrace().Outline(),
              (std::vector<std::string>{library + ":attach", library + ":detach by=FreeLibrary"}));
  }
}

std::vector<Variant> AllVariants() {
  std::vector<Variant> variants = {{"full", "hvcomms.dll", ""}, {"full", "HVHook.dll", ""}};
  for (const std::string& name : kCommsEntryPoints) variants.push_back({"no_" + name, "hvcomms.dll", name});
  for (const std::string& name : kHookEntryPoints) variants.push_back({"no_" + name, "HVHook.dll", name});
  return variants;
}

INSTANTIATE_TEST_SUITE_P(Standins, StandinsExports, ::testing::ValuesIn(AllVariants()),
                         [](const ::testing::TestParamInfo<Variant>& test) {
                           std::string name = test.param.folder + "_" + test.param.file;
                           for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return name;
                         });

// The stand-ins return a full 32-bit result, so the type the program uses (an 8-bit result) is widened here.
using SetLine = DWORD(WINAPI*)(overlay::word, overlay::word, const char*, std::uint32_t, overlay::bool8,
                               std::uint8_t, overlay::bool8, overlay::bool8);
using SetMultiline = DWORD(WINAPI*)(overlay::word, overlay::word, const char*, std::uint32_t, overlay::bool8,
                                    std::uint8_t, overlay::bool8, overlay::word, overlay::word, overlay::bool8);
using GetScreenSize = DWORD(WINAPI*)(std::int32_t*, std::int32_t*);
using ShowPicturePos = DWORD(WINAPI*)(std::uint32_t, std::int32_t, std::int32_t);
using HookOnFn = DWORD(WINAPI*)(HWND, std::uint32_t);

TEST(StandinsTrace, RecordsArgumentsAndReturnsScriptedResults) {
  LoadedStandin dll("full", "hvcomms.dll");
  ASSERT_NE(dll.module(), nullptr);
  dll.WriteScript("# results\nHVSL_SetTextLineData=0x100\n[any section]\nHVML_SetTextMultilineData = 0xFFFFFF01\n");

  const char text[] = "a\"b\\c\r\n\xFC\t";
  EXPECT_EQ(dll.Get<SetLine>("HVSL_SetTextLineData")(65535, 1, text, 0x80FF0001, 1, 255, 0, 1), 0x100u);
  EXPECT_EQ(dll.Get<SetMultiline>("HVML_SetTextMultilineData")(20, 40, "", 0xFFFF0000, 0, 0, 1, 100, 7, 0),
            0xFFFFFF01u);
  EXPECT_EQ(dll.Get<ShowPicturePos>("HVPIC_ShowPicturePos")(1, -10, 10), 1u);

  const Trace trace = dll.ReadTrace();
  ASSERT_EQ(trace.events().size(), 4u) << trace.Text();
  EXPECT_EQ(trace.events()[1].line,
            "HVSL_SetTextLineData x=65535 y=1 text[9]=\"a\\\"b\\\\c\\r\\n\\xFC\\t\" argb=0x80FF0001 "
            "blackBackground=1 size=255 bold=0 monospace=1 ret=0x00000100");
  EXPECT_EQ(trace.events()[1].Arg("text"), text);
  EXPECT_EQ(trace.events()[1].Arg("text.len"), "9");
  EXPECT_EQ(trace.events()[2].line,
            "HVML_SetTextMultilineData x=20 y=40 text[0]=\"\" argb=0xFFFF0000 blackBackground=0 fontSize=0 "
            "bold=1 width=100 height=7 monospace=0 ret=0xFFFFFF01");
  EXPECT_EQ(trace.events()[3].line, "HVPIC_ShowPicturePos show=1 x=-10 y=10 ret=0x00000001");
}

TEST(StandinsTrace, ScreenSizeFollowsTheScriptReadOnEveryCall) {
  LoadedStandin dll("full", "hvcomms.dll");
  ASSERT_NE(dll.module(), nullptr);
  auto getScreenSize = dll.Get<GetScreenSize>("HVSI_GetScreenSize");

  std::int32_t width = 1, height = 2;
  getScreenSize(&width, &height);
  EXPECT_EQ(width, 800);
  EXPECT_EQ(height, 600);

  dll.WriteScript("screen_width=1024\nscreen_height=768\n");
  getScreenSize(&width, &height);
  EXPECT_EQ(width, 1024);
  EXPECT_EQ(height, 768);

  dll.WriteScript("screen_size_written=0\n");
  width = -5;
  height = -6;
  getScreenSize(&width, &height);
  EXPECT_EQ(width, -5);
  EXPECT_EQ(height, -6);

  const Trace trace = dll.ReadTrace();
  ASSERT_EQ(trace.Count("HVSI_GetScreenSize"), 3) << trace.Text();
  EXPECT_EQ(trace.events()[1].Arg("wrote"), "800x600");
  EXPECT_EQ(trace.events()[2].Arg("wrote"), "1024x768");
  EXPECT_EQ(trace.events()[3].Arg("wrote"), "none");
}

TEST(StandinsTrace, HookRecordsWindowAndSecondArgument) {
  LoadedStandin dll("full", "HVHook.dll");
  ASSERT_NE(dll.module(), nullptr);
  dll.WriteScript("HookOn=0\n");
  EXPECT_EQ(dll.Get<HookOnFn>("HookOn")(reinterpret_cast<HWND>(0x0002004C), 7), 0u);
  const Trace trace = dll.ReadTrace();
  ASSERT_EQ(trace.Count("HookOn"), 1) << trace.Text();
  EXPECT_EQ(trace.Find("HookOn")->line, "HookOn window=0x0002004C reserved=7 sysmenu[0]=\"\" ret=0x00000000");
}

}  // namespace
}  // namespace e2e
