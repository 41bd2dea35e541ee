// Hardening: the program tried as a careless user and a faulty library would try it. Bad input in every kind of
// box, libraries that answer oddly, take long or show message boxes of their own, floods of hotkey reports,
// closing in every state, fifty runs in a row, and the library search. Nothing may crash, hang, lose data or
// change a field that should not change.
//
// Every case is one row of a table: what is typed or done, what must happen, what happened. Expected and
// observed are written in the same words, so a case passes when they are equal; the rows are also written as
// Markdown beside this test program (hardening.observed.md) and compared with docs/hardening.md, so the
// document always lists exactly the cases tested here.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"
#include "overlay/hotkey_message.h"
#include "res/resource.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------------------------------------
// The table of cases

struct Row {
  std::string id;  // section letter, dash, number: the rows are listed in this order
  std::string input;
  std::string expected;
  std::string observed;
};

std::vector<Row>& Rows() {
  static std::vector<Row> rows;
  return rows;
}

// Adds a case to the table and checks it. A case that took long is named in the output, to keep the group
// fast.
void Record(const std::string& id, const std::string& input, const std::string& expected,
            const std::string& observed) {
  static ULONGLONG last = 0;
  const ULONGLONG now = GetTickCount64();
  if (last != 0 && now - last > 1000) std::printf("case %s took %llu ms\n", id.c_str(), now - last);
  last = now;
  Rows().push_back({id, input, expected, observed});
  EXPECT_EQ(observed, expected) << "case " << id << ": " << input;
}

std::string Number(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

const struct {
  char letter;
  const char* title;
} kSections[] = {
    {'F', "Bad input in the boxes"},
    {'L', "Libraries that misbehave"},
    {'K', "Hotkey reports the program must ignore"},
    {'E', "Ending in every state"},
    {'C', "Fifty runs in a row"},
    {'S', "Library search"},
};

std::string MarkdownCell(const std::string& text) {
  std::string cell;
  for (char c : text) cell += c == '|' ? std::string("\\|") : std::string(1, c);
  return cell;
}

std::string MarkdownDocument(std::vector<Row> rows) {
  std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.id < b.id; });
  std::ostringstream out;
  out << "# Hardening\n\n"
         "What the end-to-end group `Hardening` (`tests/e2e/hardening_test.cpp`, `ctest -R e2e.Hardening`) does to\n"
         "`va_vazu.exe` beside the stand-in libraries: bad input in every kind of box, libraries that answer oddly,\n"
         "take long or show message boxes of their own, floods of hotkey reports, closing in every state, fifty\n"
         "runs in a row, and the library search. One row per case: what is typed or done, what must happen, and\n"
         "what the last run observed. The tests write this table beside the test program as\n"
         "`hardening.observed.md` and fail when it differs from this file.\n\n"
         "\"Refused\" means the framework's message (exclamation icon, caption \"va_vazu\") came up and, once\n"
         "dismissed, the focus was on that box with its whole text selected. \"Keeps its value\" means the box\n"
         "shows its stored value again when the fields are next written (by \"Get ScreenSize Info\"): the bad\n"
         "text changed nothing. In every case the program kept running and answering unless the row says it ends,\n"
         "and no other box changed.\n\n"
         "The libraries are the recording stand-ins of `standins/`, scripted through `standin.ini` to answer oddly,\n"
         "to take long (`<EntryPoint>_delay_ms`) or to show a message box of their own (`<EntryPoint>_message_box`).\n"
         "Not here: a picture path reaching the library, which needs END held down (the hotkey tests press it), and\n"
         "the pure parsing and shortening functions, which are fuzzed (`tests/fuzz/`).\n";
  for (const auto& section : kSections) {
    out << "\n## " << section.title << "\n\n| Case | Input | Expected | Observed |\n|---|---|---|---|\n";
    for (const Row& row : rows) {
      if (row.id[0] != section.letter) continue;
      out << "| " << row.id << " | " << MarkdownCell(row.input) << " | " << MarkdownCell(row.expected) << " | "
          << MarkdownCell(row.observed) << " |\n";
    }
  }
  return out.str();
}

// ---------------------------------------------------------------------------------------------------------
// Talking to the program

constexpr char kU32Message[] = "Please enter a whole number from 0 to 4294967295.";
constexpr char kU8Message[] = "Please enter a whole number from 0 to 255.";
constexpr char kCaption[] = "va_vazu";
constexpr char kAboutTitle[] = "Info \xFC" "ber va_vazu";

const std::vector<std::string> kStartup = {"hvcomms.dll:attach", "HVHook.dll:attach", "HVSL_ShowText",
                                           "HVML_ShowText", "HookOn"};
const std::vector<std::string> kTeardown = {"hvcomms.dll:detach by=FreeLibrary", "HookOff",
                                            "HVHook.dll:detach by=FreeLibrary"};

// Whether the program's user-interface thread handles a sent message within the time.
bool Answers(HWND window, DWORD timeoutMs) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &result) != 0;
}

int Calls(const App& app, const std::string& entryPoint) { return app.ReadTrace().Count(entryPoint); }

bool WaitForCalls(const App& app, const std::string& entryPoint, int count, DWORD timeoutMs = kWaitMs) {
  return WaitUntil([&] { return Calls(app, entryPoint) >= count || !app.Running(); }, timeoutMs) &&
         Calls(app, entryPoint) >= count;
}

// The last call of that entry point, or an empty event.
TraceEvent LastCall(const App& app, const std::string& entryPoint) {
  const Trace trace = app.ReadTrace();
  TraceEvent last;
  for (const TraceEvent& event : trace.events()) {
    if (event.name == entryPoint) last = event;
  }
  return last;
}

// The trace after start-up: everything after HookOn.
std::vector<std::string> AfterStartup(const Trace& trace) {
  std::vector<std::string> outline = trace.Outline();
  auto hookOn = std::find(outline.begin(), outline.end(), "HookOn");
  return hookOn == outline.end() ? outline : std::vector<std::string>(hookOn + 1, outline.end());
}

bool EndsWithTeardown(const Trace& trace) {
  const std::vector<std::string> outline = trace.Outline();
  return outline.size() >= kTeardown.size() &&
         std::equal(kTeardown.begin(), kTeardown.end(),
                    outline.end() - static_cast<std::ptrdiff_t>(kTeardown.size()));
}

// A text for the table: control characters escaped, long ones cut.
std::string Printable(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size() && i < 40; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c >= 0x7F) {
      const char* digits = "0123456789ABCDEF";
      out += std::string("\\x") + digits[c >> 4] + digits[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  if (text.size() > 40) out += "... (" + std::to_string(text.size()) + " bytes)";
  return out;
}

// A message box in the table's words: "message "<text>"", with the icon and caption added when they are not
// the expected ones.
std::string Describe(const MessageBoxInfo& box, Icon expectedIcon, const std::string& expectedCaption = kCaption) {
  std::string text = box.text == kU32Message ? std::string("the 0..4294967295 message")
                     : box.text == kU8Message ? std::string("the 0..255 message")
                                              : "message \"" + box.text + "\"";
  if (box.icon != expectedIcon || box.caption != expectedCaption) {
    text += std::string(" (") + ToString(box.icon) + ", caption \"" + box.caption + "\")";
  }
  return text;
}

// Whether the whole text of an edit box is selected. EM_GETSEL's answer holds only 16 bits per position, so
// the positions are asked for through its two pointers, which the system carries across processes.
bool AllSelected(HWND control) {
  DWORD start = 1;
  DWORD end = 0;
  DWORD_PTR ignored = 0;
  if (!SendMessageTimeoutA(control, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end),
                           SMTO_ABORTIFHUNG, 2000, &ignored)) {
    return false;
  }
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(control, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length)) return false;
  return start == 0 && end == static_cast<DWORD>(length);
}

// Makes sure that every message posted to the program so far has been handled: posts a selection change to the
// single-line text box behind them and waits until it shows. (A sent message would overtake them.)
bool Flush(const App& app, DWORD timeoutMs = kWaitMs) {
  static int marker = 0;
  marker = marker % 7 + 1;
  HWND box = app.Control(IDC_LINE_TEXT);
  PostMessageA(box, EM_SETSEL, static_cast<WPARAM>(marker), static_cast<LPARAM>(marker));
  return WaitUntil(
      [&] {
        DWORD start = 0;
        DWORD end = 0;
        DWORD_PTR ignored = 0;
        return !app.Running() ||
               (SendMessageTimeoutA(box, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end),
                                    SMTO_NORMAL, 200, &ignored) &&
                start == static_cast<DWORD>(marker) && end == static_cast<DWORD>(marker));
      },
      timeoutMs);
}

// Writes all fields into the boxes ("Get ScreenSize Info" reads nothing and writes everything), so each box
// shows its stored value.
bool WriteFields(const App& app) {
  const int before = Calls(app, "HVSI_GetScreenSize");
  app.Click(IDC_GET_SCREEN_SIZE);
  return WaitForCalls(app, "HVSI_GetScreenSize", before + 1);
}

// Every edit box of the dialog, with the command whose read of the fields is watched for it and the call that
// tells that the command is done.
struct Box {
  int id;
  const char* name;
  bool number;
  int button;
  const char* doneCall;
};

constexpr char kLineCall[] = "HVSL_SetTextLineData";
constexpr char kMultiCall[] = "HVML_SetTextMultilineData";
constexpr char kSizeCall[] = "HVSI_GetScreenSize";

const Box kBoxes[] = {
    {IDC_LINE_TEXT, "single-line text 1000", false, IDC_SET_LINE, kLineCall},
    {IDC_LINE_X, "line x 1003", true, IDC_SET_LINE, kLineCall},
    {IDC_LINE_Y, "line y 1004", true, IDC_SET_LINE, kLineCall},
    {IDC_LINE_RED, "line red 1018", true, IDC_SET_LINE, kLineCall},
    {IDC_LINE_GREEN, "line green 1019", true, IDC_SET_LINE, kLineCall},
    {IDC_LINE_BLUE, "line blue 1020", true, IDC_SET_LINE, kLineCall},
    {IDC_LINE_ALPHA, "line alpha 1021", true, IDC_SET_LINE, kLineCall},
    {IDC_LINE_SIZE, "line size 1025", true, IDC_SET_LINE, kLineCall},
    {IDC_KEY_LOG, "key log 1014 (read-only)", false, IDC_SET_PICTURE, kSizeCall},
    {IDC_MULTI_TEXT, "multiline text 1032", false, IDC_SET_MULTI, kMultiCall},
    {IDC_MULTI_X, "multiline x 1028", true, IDC_SET_MULTI, kMultiCall},
    {IDC_MULTI_Y, "multiline y 1029", true, IDC_SET_MULTI, kMultiCall},
    {IDC_MULTI_WIDTH, "multiline width 1030", true, IDC_SET_MULTI, kMultiCall},
    {IDC_MULTI_HEIGHT, "multiline height 1031", true, IDC_SET_MULTI, kMultiCall},
    {IDC_MULTI_FONTSIZE, "multiline font size 1033", true, IDC_SET_MULTI, kMultiCall},
    {IDC_MULTI_RED, "multiline red 1022", true, IDC_SET_MULTI, kMultiCall},
    {IDC_MULTI_GREEN, "multiline green 1026", true, IDC_SET_MULTI, kMultiCall},
    {IDC_MULTI_BLUE, "multiline blue 1037", true, IDC_SET_MULTI, kMultiCall},
    {IDC_MULTI_ALPHA, "multiline alpha 1038", true, IDC_SET_MULTI, kMultiCall},
    {IDC_PICTURE_PATH, "picture path 1041", false, IDC_SET_PICTURE, kSizeCall},
    {IDC_SCREEN_SIZE, "screen size 1044 (read-only)", false, IDC_GET_SCREEN_SIZE, kSizeCall},
};

const Box& BoxOf(int id) {
  for (const Box& box : kBoxes) {
    if (box.id == id) return box;
  }
  return kBoxes[0];
}

bool Is8Bit(int id) {
  switch (id) {
    case IDC_LINE_RED: case IDC_LINE_GREEN: case IDC_LINE_BLUE: case IDC_LINE_ALPHA: case IDC_LINE_SIZE:
    case IDC_MULTI_FONTSIZE: case IDC_MULTI_RED: case IDC_MULTI_GREEN: case IDC_MULTI_BLUE: case IDC_MULTI_ALPHA:
      return true;
    default:
      return false;
  }
}

// The texts of every box but one; the screen-size box is left out, since writing the fields changes it.
std::map<int, std::string> OtherBoxes(const App& app, int except) {
  std::map<int, std::string> texts;
  for (const Box& box : kBoxes) {
    if (box.id != except && box.id != IDC_SCREEN_SIZE) texts[box.id] = app.Text(box.id);
  }
  return texts;
}

std::string ChangedBoxes(const std::map<int, std::string>& before, const std::map<int, std::string>& after) {
  std::string changed;
  for (const auto& [id, text] : before) {
    const auto now = after.find(id);
    if (now == after.end() || now->second != text) {
      changed += "; box " + std::to_string(id) + " changed to \"" +
                 Printable(now == after.end() ? std::string() : now->second) + "\"";
    }
  }
  return changed;
}

// What the program did when a command read the fields.
struct Reaction {
  bool running = true;
  std::optional<MessageBoxInfo> message;
  bool focusOnBox = false;
  bool allSelected = false;
  bool done = false;  // the command's call came

  // "refused with ...; focus and selection on the box", "no message", or what went wrong.
  std::string Describe() const {
    if (!running) return "the program ended";
    if (!message) return done ? "no message" : "no message and no call";
    std::string text = "refused with " + e2e::Describe(*message, Icon::Warning);
    text += focusOnBox ? (allSelected ? "; focus and selection on the box" : "; focus on the box, not all selected")
                       : "; focus elsewhere";
    return text;
  }
};

// Types `text` into the box, clicks `button` (and then `alsoClick`), and waits until the command is over: a
// message it showed has been dismissed and the focus checked, and its call `doneCall` is in the trace (none
// for CLOSE).
Reaction TypeAndClick(const App& app, int boxId, const std::string& text, int button, const char* doneCall,
                      int alsoClick = 0) {
  Reaction reaction;
  app.SetText(boxId, text);
  const int before = doneCall ? Calls(app, doneCall) : 0;
  app.Click(button);
  if (alsoClick) app.Click(alsoClick);
  WaitUntil([&] {
    return !app.Running() || (doneCall && Calls(app, doneCall) > before) ||
           (reaction.message = app.FindMessageBox()).has_value();
  });
  if (reaction.message) {
    Dismiss(*reaction.message);
    HWND control = app.Control(boxId);
    reaction.focusOnBox = WaitUntil([&] { return app.FocusedWindow() == control; }, 2000);
    reaction.allSelected = reaction.focusOnBox && AllSelected(control);
  }
  reaction.done = doneCall ? WaitForCalls(app, doneCall, before + 1) : Flush(app);
  reaction.running = app.Running() && Answers(app.dialog(), kWaitMs);
  return reaction;
}

// ---------------------------------------------------------------------------------------------------------
// F: bad input in the boxes

std::string Repeat(const std::string& text, std::size_t times) {
  std::string all;
  all.reserve(text.size() * times);
  for (std::size_t i = 0; i < times; ++i) all += text;
  return all;
}

// A megabyte, decimal: Wine carries a text across processes as UTF-16 and cannot deliver one much longer than
// 2^20 bytes (F-801 sends one that long).
constexpr std::size_t kMegabyte = 1000 * 1000;

// Letters: Wine's edit control lays out a long unbroken run of digits in seconds per hundred thousand, which
// would only measure Wine. Long digit strings are a thousand digits.
std::string MegabyteOfLetters() { return std::string(kMegabyte, 'x'); }

// A megabyte of text in lines of `width` bytes (letters and CR LF), narrow enough for the box. Wine's multiline
// edit control wraps a line wider than the box, which for one megabyte-long word takes minutes; and it spends
// about 30 microseconds on each line, so the lines are not shorter than they need to be.
std::string MegabyteInLines(std::size_t width) {
  return Repeat(std::string(width - 2, 'y') + "\r\n", kMegabyte / width);
}

struct NumberInput {
  const char* input;    // in words, for the table
  std::string text32;   // what is typed into a 32-bit box
  std::string text8;    // ... and into an 8-bit box
  const char* taken32;  // the value a 32-bit box stores, or null when it refuses the text
  const char* taken8;   // the same for an 8-bit box
};

// An input typed alike into both kinds of box.
NumberInput Same(const char* input, const std::string& text, const char* taken32, const char* taken8) {
  return {input, text, text, taken32, taken8};
}

std::vector<NumberInput> NumberInputs() {
  return {
      Same("empty", "", nullptr, nullptr),
      Same("blanks only", "   ", nullptr, nullptr),
      Same("blanks around digits \"  12  \"", "  12  ", "12", "12"),
      Same("tabs around digits \"\\t34\\t\"", "\t34\t", "34", "34"),
      Same("a blank between digits \"1 2\"", "1 2", nullptr, nullptr),
      Same("plus sign \"+5\"", "+5", nullptr, nullptr),
      Same("minus sign \"-1\"", "-1", nullptr, nullptr),
      Same("digits then letters \"12abc\"", "12abc", nullptr, nullptr),
      Same("letters \"abc\"", "abc", nullptr, nullptr),
      Same("hex \"0x1F\"", "0x1F", nullptr, nullptr),
      Same("exponent \"1e3\"", "1e3", nullptr, nullptr),
      Same("decimal point \"1.5\"", "1.5", nullptr, nullptr),
      Same("format directives \"%d%n\"", "%d%n", nullptr, nullptr),
      {"the limit \"4294967295\" / \"255\"", "4294967295", "255", "4294967295", "255"},
      {"one past the limit \"4294967296\" / \"256\"", "4294967296", "256", nullptr, nullptr},
      {"the limit plus two, 1 after wrapping: \"4294967297\" / \"257\"", "4294967297", "257", nullptr, nullptr},
      Same("2^64 + 1, 1 after wrapping in 64 bits: \"18446744073709551617\"", "18446744073709551617", nullptr,
           nullptr),
      Same("1,000 zeros, then 7", std::string(1000, '0') + "7", "7", "7"),
      Same("1,000 nines", std::string(1000, '9'), nullptr, nullptr),
      Same("a megabyte of letters", MegabyteOfLetters(), nullptr, nullptr),
      Same("digit then BEL (0x07)", "5\a", nullptr, nullptr),
      Same("CR LF between digits", "1\r\n2", nullptr, nullptr),
      Same("superscript two, code page 1252 byte 0xB2", "\xB2", nullptr, nullptr),
      Same("full-width digits 1 2 as UTF-8 bytes", "\xEF\xBC\x91\xEF\xBC\x92", nullptr, nullptr),
      Same("Arabic-Indic digit 3 as UTF-8 bytes", "\xD9\xA3", nullptr, nullptr),
  };
}

// Types a text into a number box, lets the box's command read it, then writes the fields back and looks at
// what the box stores; the other boxes must not change.
std::string ObserveNumber(const App& app, int boxId, const std::string& text, int button, const char* doneCall) {
  const std::string stored = app.Text(boxId);
  const std::map<int, std::string> others = OtherBoxes(app, boxId);
  const Reaction reaction = TypeAndClick(app, boxId, text, button, doneCall);
  if (!reaction.running) return reaction.Describe();
  if (!WriteFields(app)) return reaction.Describe() + "; writing the fields failed";
  const std::string now = app.Text(boxId);
  std::string observed = reaction.Describe();
  if (reaction.message && now == stored) {
    observed += "; keeps its value";
  } else if (!reaction.message && observed == "no message") {
    observed = "taken as " + now;
  } else {
    observed += "; stores " + Printable(now);
  }
  return observed + ChangedBoxes(others, OtherBoxes(app, boxId));
}

std::string RefusedNumber(bool eightBit) {
  return std::string("refused with the ") + (eightBit ? "0..255" : "0..4294967295") +
         " message; focus and selection on the box; keeps its value";
}

class HardeningInput : public StartedApp {};

// Every bad input into a 32-bit box (the multiline x, which takes any text) and an 8-bit box (the line red,
// which takes digits when typed; a pasted or sent text is not checked by the box).
TEST_F(HardeningInput, NumberBoxes) {
  const struct {
    int id;
    const char* prefix;
  } boxes[] = {{IDC_MULTI_X, "F-1"}, {IDC_LINE_RED, "F-2"}};
  for (const auto& target : boxes) {
    const Box& box = BoxOf(target.id);
    const bool eightBit = Is8Bit(box.id);
    int n = 0;
    for (const NumberInput& input : NumberInputs()) {
      const std::string& text = eightBit ? input.text8 : input.text32;
      const char* taken = eightBit ? input.taken8 : input.taken32;
      const std::string expected = taken ? std::string("taken as ") + taken : RefusedNumber(eightBit);
      const std::string observed = ObserveNumber(app_, box.id, text, box.button, box.doneCall);
      Record(target.prefix + Number(++n), std::string(box.name) + ": " + input.input, expected, observed);
      ASSERT_TRUE(app_.Running()) << "the program ended";
    }
  }
}

// Types a text into a string box that its command sends, and tells how it arrived.
std::string ObserveSent(const App& app, int boxId, const std::string& text, int button, const char* call,
                        std::size_t limit) {
  const std::map<int, std::string> others = OtherBoxes(app, boxId);
  const Reaction reaction = TypeAndClick(app, boxId, text, button, call);
  std::string observed = reaction.Describe();
  if (observed != "no message") return observed;
  const TraceEvent sent = LastCall(app, call);
  const std::string arrived = sent.Arg("text");
  if (arrived == text) {
    observed = "sent byte-exact";
  } else if (text.size() > limit && arrived == text.substr(0, limit)) {
    observed = "sent as its first " + std::to_string(limit) + " bytes";
  } else {
    observed = "sent as \"" + Printable(arrived) + "\"";
  }
  if (!WriteFields(app)) return observed + "; writing the fields failed";
  return observed + ChangedBoxes(others, OtherBoxes(app, boxId));
}

// Types a text into a string box that is only stored, reads it with "Set" (picture path), then writes the
// fields back: the box shows the text again only if it was stored as typed.
std::string ObserveStored(const App& app, int boxId, const std::string& text) {
  const std::map<int, std::string> others = OtherBoxes(app, boxId);
  const Reaction reaction = TypeAndClick(app, boxId, text, IDC_SET_PICTURE, kSizeCall, IDC_GET_SCREEN_SIZE);
  std::string observed = reaction.Describe();
  if (observed != "no message") return observed;
  const std::string now = app.Text(boxId);
  observed = now == text ? "stored byte-exact" : "stored as \"" + Printable(now) + "\"";
  return observed + ChangedBoxes(others, OtherBoxes(app, boxId));
}

struct TextInput {
  const char* input;
  std::string text;
};

std::vector<TextInput> TextInputs() {
  return {
      {"empty", ""},
      {"blanks only", "   "},
      {"control characters SOH BEL ESC DEL and a tab", "\x01\a\x1B\x7F\tend"},
      {"CR LF inside", "first\r\nsecond"},
      {"format directives \"%s%n%x%p%d%%\"", "%s%n%x%p%d%%"},
      {"code page 1252 letters", "Gr\xFC\xDF" "e \xC4\xD6\xDC \xE9\xE8"},
      {"UTF-8 bytes of another script and bytes 0x81 0x8D 0x8F 0x90 0x9D", "Gr\xC3\xBC\xC3\x9F" "e "
                                                                           "\xE6\x9D\xB1\xE4\xBA\xAC \x81\x8D\x8F\x90\x9D"},
  };
}

// String boxes take anything: what they send or store is what was typed, up to the library's length limit.
TEST_F(HardeningInput, StringBoxes) {
  int n = 0;
  for (const TextInput& input : TextInputs()) {
    Record("F-3" + Number(++n), std::string("single-line text 1000: ") + input.input, "sent byte-exact",
           ObserveSent(app_, IDC_LINE_TEXT, input.text, IDC_SET_LINE, kLineCall, 127));
  }
  Record("F-3" + Number(++n), "single-line text 1000: 127 letters", "sent byte-exact",
         ObserveSent(app_, IDC_LINE_TEXT, std::string(127, 'a'), IDC_SET_LINE, kLineCall, 127));
  Record("F-3" + Number(++n), "single-line text 1000: 128 letters", "sent as its first 127 bytes",
         ObserveSent(app_, IDC_LINE_TEXT, std::string(128, 'b'), IDC_SET_LINE, kLineCall, 127));

  n = 0;
  for (const TextInput& input : TextInputs()) {
    Record("F-4" + Number(++n), std::string("multiline text 1032: ") + input.input, "sent byte-exact",
           ObserveSent(app_, IDC_MULTI_TEXT, input.text, IDC_SET_MULTI, kMultiCall, 1023));
  }
  Record("F-4" + Number(++n), "multiline text 1032: 1023 letters", "sent byte-exact",
         ObserveSent(app_, IDC_MULTI_TEXT, std::string(1023, 'c'), IDC_SET_MULTI, kMultiCall, 1023));
  Record("F-4" + Number(++n), "multiline text 1032: 1021 letters, then CR LF (cut between CR and LF)",
         "sent as its first 1023 bytes",
         ObserveSent(app_, IDC_MULTI_TEXT, std::string(1022, 'd') + "\r\n", IDC_SET_MULTI, kMultiCall, 1023));

  n = 0;
  for (const TextInput& input : TextInputs()) {
    Record("F-5" + Number(++n), std::string("picture path 1041, then \"Set\": ") + input.input, "stored byte-exact",
           ObserveStored(app_, IDC_PICTURE_PATH, input.text));
  }
}

// A read that fails part-way: the fields before the refused one take their new values, that one and all after
// it keep theirs, and the command goes on with them.
TEST_F(HardeningInput, RefusedFieldStopsTheRead) {
  ASSERT_TRUE(app_.SetText(IDC_LINE_TEXT, "before the refused field"));
  ASSERT_TRUE(app_.SetText(IDC_LINE_X, "7"));
  ASSERT_TRUE(app_.SetText(IDC_LINE_SIZE, "33"));
  ASSERT_TRUE(app_.SetText(IDC_MULTI_X, "44"));
  const Reaction reaction = TypeAndClick(app_, IDC_LINE_GREEN, "256", IDC_SET_LINE, kLineCall);
  const TraceEvent sent = LastCall(app_, kLineCall);
  std::string observed = reaction.Describe() + "; sent text \"" + sent.Arg("text") + "\", x " + sent.Arg("x") +
                         ", colour " + sent.Arg("argb") + ", size " + sent.Arg("size");
  ASSERT_TRUE(WriteFields(app_));
  observed += "; boxes then show green " + app_.Text(IDC_LINE_GREEN) + ", size " + app_.Text(IDC_LINE_SIZE) +
              ", multiline x " + app_.Text(IDC_MULTI_X);
  Record("F-601",
         "\"Set Text Data\" with new text and x before, 256 in green, new size and multiline x after it",
         "refused with the 0..255 message; focus and selection on the box; sent text \"before the refused field\", "
         "x 7, colour 0xFFFF0000, size 20; boxes then show green 0, size 20, multiline x 20",
         observed);
}

// A megabyte in every box at once, all read by "Set" of the picture path and both "Set Text Data": each box is
// read whole, however long, so no buffer is sized by a guess. The number boxes hold blanks and one digit, which
// they take; a megabyte that a number box refuses is in F-1, F-2 and, through CLOSE, F-722.
TEST_F(HardeningInput, MegabyteInEveryBox) {
  constexpr std::size_t kLogLine = 16;
  constexpr std::size_t kTextLine = 40;
  const std::string blanksThenDigit = std::string(kMegabyte - 1, ' ') + "5";
  std::map<int, std::string> typed;
  for (const Box& box : kBoxes) {
    typed[box.id] = box.number                   ? blanksThenDigit
                    : box.id == IDC_KEY_LOG      ? MegabyteInLines(kLogLine)
                    : box.id == IDC_MULTI_TEXT   ? MegabyteInLines(kTextLine)
                                                 : MegabyteOfLetters();
    ASSERT_TRUE(app_.SetText(box.id, typed[box.id])) << box.name;
  }
  const int lineCalls = Calls(app_, kLineCall);
  const int multiCalls = Calls(app_, kMultiCall);
  app_.Click(IDC_SET_PICTURE);
  app_.Click(IDC_SET_LINE);
  app_.Click(IDC_SET_MULTI);
  const bool called = WaitForCalls(app_, kLineCall, lineCalls + 1) && WaitForCalls(app_, kMultiCall, multiCalls + 1);
  ASSERT_TRUE(Flush(app_));
  const std::optional<MessageBoxInfo> message = app_.FindMessageBox();
  if (message) Dismiss(*message);
  ASSERT_TRUE(WriteFields(app_));
  const std::string reaction = !called ? "no call" : message ? "message \"" + message->text + "\"" : "";

  int n = 0;
  for (const Box& box : kBoxes) {
    const std::string id = "F-7" + Number(++n);
    const std::string now = app_.Text(box.id);
    std::string expected;
    std::string observed;
    std::string input = std::string(box.name) + ": a megabyte of letters";
    if (box.number) {
      input = std::string(box.name) + ": a megabyte of blanks, then 5";
      expected = "taken as 5";
      observed = "taken as " + Printable(now);
    } else if (box.id == IDC_LINE_TEXT || box.id == IDC_MULTI_TEXT) {
      const bool line = box.id == IDC_LINE_TEXT;
      const std::size_t limit = line ? 127 : 1023;
      if (!line) input = std::string(box.name) + ": a megabyte in lines of 40 bytes";
      expected = "sent as its first " + std::to_string(limit) + " bytes";
      const std::string sent = LastCall(app_, line ? kLineCall : kMultiCall).Arg("text");
      observed = sent == typed[box.id].substr(0, limit) ? expected : "sent as \"" + Printable(sent) + "\"";
    } else if (box.id == IDC_SCREEN_SIZE) {
      expected = "replaced by \"800 x 600\"";
      observed = "replaced by \"" + Printable(now) + "\"";
    } else {
      if (box.id == IDC_KEY_LOG) input = std::string(box.name) + ": a megabyte in lines of 16 bytes";
      expected = "stored byte-exact";
      observed = now == typed[box.id] ? expected : "stored as \"" + Printable(now) + "\"";
    }
    Record(id, input + ", with a megabyte in every box; \"Set\", then \"Set Text Data\" of both groups", expected,
           reaction.empty() ? observed : reaction + "; " + observed);
  }

  const Box& height = BoxOf(IDC_MULTI_HEIGHT);
  const std::string stored = app_.Text(height.id);
  const Reaction refused = TypeAndClick(app_, height.id, MegabyteOfLetters(), IDOK, nullptr);
  std::string observed = refused.Describe();
  if (refused.running) {
    ASSERT_TRUE(WriteFields(app_));
    observed += std::string("; stays open; ") +
                (app_.Text(height.id) == stored ? "keeps its value" : "stores " + Printable(app_.Text(height.id)));
  }
  Record("F-7" + Number(++n), std::string(height.name) + ": a megabyte of letters, then CLOSE",
         "refused with the 0..4294967295 message; focus and selection on the box; stays open; keeps its value",
         observed);

  app_.Click(IDC_CLEAR_LOG);
  ASSERT_TRUE(Flush(app_));
  const std::string log = app_.Text(IDC_KEY_LOG);
  Record("F-7" + Number(++n), "\"Clear\" with a megabyte in the key log", "the log is empty",
         log.empty() ? "the log is empty" : "the log holds \"" + Printable(log) + "\"");
}

// Another program sends a text longer than Wine carries across processes (2^20 bytes: 2 MiB of UTF-16, over
// its limit): the sender's call fails. Whatever becomes of the message, the program must carry on.
TEST_F(HardeningInput, TextTooLongToCarry) {
  const std::string before = app_.Text(IDC_LINE_TEXT);
  const std::string text(1 << 20, 'z');
  // A megabyte is set in about half a second; the sender gives up after one and a half.
  DWORD_PTR ignored = 0;
  SendMessageTimeoutA(app_.Control(IDC_LINE_TEXT), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                      SMTO_NORMAL, 1500, &ignored);
  std::string observed = app_.Running() && Answers(app_.dialog(), kWaitMs) ? "keeps running" : "the program ended";
  if (observed == "keeps running") {
    const std::string now = app_.Text(IDC_LINE_TEXT);
    observed += now == before || now == text ? "; the box holds the text or its old one"
                                             : "; the box holds \"" + Printable(now) + "\"";
    const Reaction reaction = TypeAndClick(app_, IDC_LINE_X, "9", IDC_SET_LINE, kLineCall);
    observed += reaction.Describe() == "no message" ? "; the next command works" : "; " + reaction.Describe();
  }
  Record("F-801", "single-line text 1000: 2^20 letters sent by another program, more than Wine carries",
         "keeps running; the box holds the text or its old one; the next command works", observed);
}

// ---------------------------------------------------------------------------------------------------------
// L: libraries that misbehave

// A message box of the program other than `open` (one that was open before), or none.
std::optional<MessageBoxInfo> NewMessageBox(const App& app, HWND open) {
  std::optional<MessageBoxInfo> box = app.FindMessageBox();
  if (!box || box->window != open) return box;
  for (HWND window : app.OpenBoxes()) {
    if (window != open) return MessageBoxInfo{window, WindowText(window), WindowText(GetDlgItem(window, 0xFFFF)),
                                              Icon::Unknown};
  }
  return std::nullopt;
}

// Clicks a command button and tells what followed: the calls of `entryPoint` it made and the message shown
// after them (dismissed here). A box that was open before (`open`) is left alone.
std::string ObserveCommand(const App& app, int button, const std::string& entryPoint, Icon icon = Icon::None,
                           HWND open = nullptr) {
  const int before = Calls(app, entryPoint);
  app.Click(button);
  WaitForCalls(app, entryPoint, before + 1);
  Flush(app);
  const int calls = Calls(app, entryPoint) - before;
  std::string observed = calls == 1 ? "one call" : std::to_string(calls) + " calls";
  if (const std::optional<MessageBoxInfo> box = NewMessageBox(app, open)) {
    observed += ", then " + Describe(*box, icon);
    Dismiss(*box);
    WaitUntil([&] { return !IsWindow(box->window); }, 2000);
  } else {
    observed += ", no message";
  }
  return observed;
}

class HardeningLibraries : public StartedApp {};

// Results with only high bits set are rejections (the libraries answer with an 8-bit truth value), a result
// with a low bit set is not; a screen size that is not written or is negative is shown as it stands.
TEST_F(HardeningLibraries, OddResults) {
  app_.WriteScript("HVSL_SetTextLineData=0xFFFFFF00\n");
  Record("L-01", "HVSL_SetTextLineData answers 0xFFFFFF00; \"Set Text Data\"",
         "one call, then message \"HVSL_SetTextLineData ERROR.\"",
         ObserveCommand(app_, IDC_SET_LINE, kLineCall));
  app_.WriteScript("HVML_SetTextMultilineData=0xFFFFFF00\n");
  Record("L-02", "HVML_SetTextMultilineData answers 0xFFFFFF00; multiline \"Set Text Data\"",
         "one call, then message \"HVML_SetTextMultilineData ERROR.\"",
         ObserveCommand(app_, IDC_SET_MULTI, kMultiCall));
  app_.WriteScript("HVSI_ShowFPS=0xFFFFFF00\n");
  std::string observed = ObserveCommand(app_, IDC_SHOW_FPS, "HVSI_ShowFPS");
  observed += "; show=" + LastCall(app_, "HVSI_ShowFPS").Arg("show") +
              (app_.CheckState(IDC_SHOW_FPS) == BST_CHECKED ? ", the box stays checked" : ", the box is clear");
  Record("L-03", "HVSI_ShowFPS answers 0xFFFFFF00; \"Show FPS Info\" checked",
         "one call, then message \"HVSI_ShowFPS ERROR.\"; show=1, the box stays checked", observed);
  app_.WriteScript("HVSL_SetTextLineData=0xFFFFFF01\nHVSI_ShowFPS=0x80000001\n");
  Record("L-04", "HVSL_SetTextLineData answers 0xFFFFFF01; \"Set Text Data\"", "one call, no message",
         ObserveCommand(app_, IDC_SET_LINE, kLineCall));
  Record("L-05", "HVSI_ShowFPS answers 0x80000001; \"Show FPS Info\" cleared", "one call, no message",
         ObserveCommand(app_, IDC_SHOW_FPS, "HVSI_ShowFPS"));

  const struct {
    const char* id;
    const char* script;
    const char* input;
    const char* shown;
  } sizes[] = {
      {"L-06", "screen_size_written=0\n", "HVSI_GetScreenSize writes nothing", "0 x 0"},
      {"L-07", "screen_width=-1\nscreen_height=-2147483648\n", "HVSI_GetScreenSize writes -1 and -2147483648",
       "-1 x -2147483648"},
      {"L-08", "screen_width=2147483647\nscreen_height=0\n", "HVSI_GetScreenSize writes 2147483647 and 0",
       "2147483647 x 0"},
  };
  for (const auto& size : sizes) {
    app_.WriteScript(size.script);
    std::string result = ObserveCommand(app_, IDC_GET_SCREEN_SIZE, kSizeCall);
    result += "; shows \"" + app_.Text(IDC_SCREEN_SIZE) + "\"";
    Record(size.id, std::string(size.input) + "; \"Get ScreenSize Info\"",
           std::string("one call, no message; shows \"") + size.shown + "\"", result);
  }
}

// A call that takes two seconds: the dialog answers nothing meanwhile, and when the call returns, what it was
// given is what the boxes held at the click; an edit made meanwhile is kept for the next click, and each click
// is one call.
TEST_F(HardeningLibraries, SlowCall) {
  app_.WriteScript("HVSL_SetTextLineData_delay_ms=2000\n");
  ASSERT_TRUE(app_.SetText(IDC_LINE_TEXT, "at the click"));
  const int before = Calls(app_, kLineCall);
  app_.Click(IDC_SET_LINE);
  std::string observed = WaitUntil([&] { return !Answers(app_.dialog(), 100); }, 2000)
                             ? "does not answer during the call"
                             : "answers during the call";
  // Sent without giving up early: it is handled once the call has returned.
  const std::string typed = "typed during the call";
  DWORD_PTR ignored = 0;
  SendMessageTimeoutA(app_.Control(IDC_LINE_TEXT), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(typed.c_str()),
                      SMTO_NORMAL, 5000, &ignored);
  WaitForCalls(app_, kLineCall, before + 1);
  Flush(app_);
  const int calls = Calls(app_, kLineCall) - before;
  observed += "; " + (calls == 1 ? std::string("one call") : std::to_string(calls) + " calls") + " with \"" +
              LastCall(app_, kLineCall).Arg("text") + "\"";
  const std::optional<MessageBoxInfo> box = app_.FindMessageBox();
  observed += box ? ", message \"" + box->text + "\"" : ", no message";
  if (box) Dismiss(*box);
  observed += "; the box holds \"" + app_.Text(IDC_LINE_TEXT) + "\"";
  app_.WriteScript("");
  const std::string next = ObserveCommand(app_, IDC_SET_LINE, kLineCall);
  observed += "; the next click: " + next + ", with \"" + LastCall(app_, kLineCall).Arg("text") + "\"";
  Record("L-09", "HVSL_SetTextLineData takes 2 s; \"Set Text Data\", then the text is changed during the call",
         "does not answer during the call; one call with \"at the click\", no message; the box holds \"typed "
         "during the call\"; the next click: one call, no message, with \"typed during the call\"",
         observed);
}

std::optional<MessageBoxInfo> WaitForOtherBox(const App& app, HWND other) {
  std::optional<MessageBoxInfo> box;
  WaitUntil([&] { return ((box = app.FindMessageBox()) && box->window != other) || !app.Running(); });
  if (box && box->window == other) box.reset();
  return box;
}

// A library that shows a message box of its own while it is being called: its box comes first, the dialog
// keeps working while it is open, and the program's own message about the rejected call follows.
TEST_F(HardeningLibraries, OwnMessageBox) {
  app_.WriteScript("HVSL_SetTextLineData_message_box=1\nHVSL_SetTextLineData=0\n");
  app_.Click(IDC_SET_LINE);
  const std::optional<MessageBoxInfo> library = app_.WaitForMessageBox();
  ASSERT_TRUE(library.has_value()) << "no message box";
  std::string observed = "first " + Describe(*library, Icon::Information, "hvcomms.dll");
  app_.SetText(IDC_SCREEN_SIZE, "");
  const std::string screen = ObserveCommand(app_, IDC_GET_SCREEN_SIZE, kSizeCall, Icon::None, library->window);
  observed += "; meanwhile \"Get ScreenSize Info\" makes " + screen + " and shows \"" + app_.Text(IDC_SCREEN_SIZE) +
              "\"";
  Dismiss(*library);
  const std::optional<MessageBoxInfo> own = WaitForOtherBox(app_, library->window);
  observed += own ? "; then " + Describe(*own, Icon::None) : "; then no message";
  if (own) Dismiss(*own);
  Flush(app_);
  observed += "; " + std::to_string(Calls(app_, kLineCall)) + " call";
  Record("L-10",
         "HVSL_SetTextLineData shows its own message box and answers 0; \"Set Text Data\", and \"Get ScreenSize "
         "Info\" while that box is open",
         "first message \"HVSL_SetTextLineData is being called.\"; meanwhile \"Get ScreenSize Info\" makes one "
         "call, no message and shows \"800 x 600\"; then message \"HVSL_SetTextLineData ERROR.\"; 1 call",
         observed);
}

// The same command run again while the library's box of the first call is open: the second call gets the new
// text, and the first call, when it goes on, still reads the text it was given, although the field has changed
// meanwhile (a library may read its arguments at any time before it returns). Each text command is tried once,
// with its field as at start-up, so that the longer text typed meanwhile moves the field's storage.
TEST_F(HardeningLibraries, CommandRunAgainDuringTheCall) {
  const struct {
    const char* id;
    int box;
    int button;
    const char* call;
    std::size_t limit;
  } commands[] = {{"L-11", IDC_LINE_TEXT, IDC_SET_LINE, kLineCall, 127},
                  {"L-12", IDC_MULTI_TEXT, IDC_SET_MULTI, kMultiCall, 1023}};
  for (const auto& command : commands) {
    const std::string first = app_.Text(command.box);
    app_.WriteScript(std::string(command.call) + "_message_box=1\n");
    const int before = Calls(app_, command.call);
    app_.Click(command.button);
    const std::optional<MessageBoxInfo> library = app_.WaitForMessageBox();
    ASSERT_TRUE(library.has_value()) << "no message box";
    app_.WriteScript("");
    const std::string second(5000, 'h');
    ASSERT_TRUE(app_.SetText(command.box, second));
    app_.Click(command.button);
    WaitForCalls(app_, command.call, before + 1);
    const std::string secondSent = LastCall(app_, command.call).Arg("text");
    Dismiss(*library);
    WaitForCalls(app_, command.call, before + 2);
    Flush(app_);
    const std::string firstSent = LastCall(app_, command.call).Arg("text");
    std::string observed =
        std::string("the call made meanwhile sends ") +
        (secondSent == second.substr(0, command.limit) ? "the new text's first " + std::to_string(command.limit) +
                                                              " bytes"
                                                        : "\"" + Printable(secondSent) + "\"") +
        "; the first call then sends " +
        (firstSent == first ? "the text at its click" : "\"" + Printable(firstSent) + "\"");
    if (const std::optional<MessageBoxInfo> box = app_.FindMessageBox()) {
      observed += "; message \"" + box->text + "\"";
      Dismiss(*box);
    }
    Record(command.id,
           std::string(command.call) + " shows its own message box; while it is open, 5,000 letters typed into " +
               BoxOf(command.box).name + " and the command clicked again",
           "the call made meanwhile sends the new text's first " + std::to_string(command.limit) +
               " bytes; the first call then sends the text at its click",
           observed);
  }
}

// A library that shows its box while the program starts, before the dialog is up.
TEST(HardeningLibrariesAtStart, OwnMessageBoxBeforeTheDialog) {
  App app;
  app.WriteScript("HVSL_ShowText_message_box=1\n");
  ASSERT_TRUE(app.Start());
  const std::optional<MessageBoxInfo> library = app.WaitForMessageBox();
  ASSERT_TRUE(library.has_value()) << "no message box";
  std::string observed = "first " + Describe(*library, Icon::Information, "hvcomms.dll");
  Dismiss(*library);
  app.WriteScript("");
  if (app.WaitForDialog()) {
    observed += "; then the dialog with \"" + app.Text(IDC_LINE_STATE) + "\" and \"" + app.Text(IDC_MULTI_STATE) +
                "\"" + (app.ReadTrace().Outline() == kStartup ? ", start-up complete" : ", start-up incomplete");
  } else {
    observed += "; no dialog";
  }
  Record("L-13", "HVSL_ShowText shows its own message box at start-up",
         "first message \"HVSL_ShowText is being called.\"; then the dialog with \"INGAME SINGLE LINE OFF\" and "
         "\"INGAME MULTILINE OFF\", start-up complete",
         observed);
}

// ---------------------------------------------------------------------------------------------------------
// K: hotkey reports the program must ignore. Posted from here as a hook library would post them; no key is
// down, so none of them may do anything. A handled hotkey would log it, switch a label or call the library,
// and write all fields, which would reset the pending edit in the line text.

constexpr char kPendingEdit[] = "pending edit";

// What the reports did, beyond the calls in `allowed`: "no effect", or a list.
std::string Effects(const App& app, const std::vector<std::string>& allowed = {}) {
  std::string effects;
  if (!app.Running()) return "the program ended";
  if (!Answers(app.dialog(), kWaitMs)) return "the dialog does not answer";
  std::vector<std::string> calls = AfterStartup(app.ReadTrace());
  for (const std::string& call : allowed) {
    const auto found = std::find(calls.begin(), calls.end(), call);
    if (found != calls.end()) calls.erase(found);
  }
  if (!calls.empty()) effects += "; calls " + calls.front() + (calls.size() > 1 ? " and more" : "");
  if (!app.Text(IDC_KEY_LOG).empty()) effects += "; log \"" + Printable(app.Text(IDC_KEY_LOG)) + "\"";
  if (app.Text(IDC_LINE_STATE) != "INGAME SINGLE LINE OFF") effects += "; " + app.Text(IDC_LINE_STATE);
  if (app.Text(IDC_MULTI_STATE) != "INGAME MULTILINE OFF") effects += "; " + app.Text(IDC_MULTI_STATE);
  if (app.Text(IDC_LINE_TEXT) != kPendingEdit) effects += "; the pending edit was reset";
  return effects.empty() ? "no effect" : effects.substr(2);
}

void PostReport(const App& app, WPARAM code) {
  // The queue of a thread holds only so many posted messages; wait for room rather than lose one.
  WaitUntil([&] { return PostMessageA(app.dialog(), WM_HOOKKEY, code, 0) != FALSE || !app.Running(); });
}

class HardeningReports : public StartedApp {
 protected:
  void SetUp() override {
    StartedApp::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(app_.SetText(IDC_LINE_TEXT, kPendingEdit));
  }
};

TEST_F(HardeningReports, UnknownCodesAndFloods) {
  for (WPARAM code = 0; code < 256; ++code) PostReport(app_, code);
  Flush(app_);
  Record("K-01", "codes 0 to 255 posted once each, no key down", "no effect", Effects(app_));

  for (WPARAM code : {WPARAM{0x12D}, WPARAM{0x1002D}, WPARAM{0x80000024}, WPARAM{0xFFFFFF23}, WPARAM{0xFFFFFFFF}}) {
    PostReport(app_, code);
  }
  Flush(app_);
  Record("K-02", "codes with high bits over INSERT, HOME and END (0x12D, 0x1002D, 0x80000024, 0xFFFFFF23) and "
         "0xFFFFFFFF", "no effect", Effects(app_));

  std::string answers = "every report answered 0";
  for (WPARAM code = 0; code < 256; ++code) {
    DWORD_PTR result = 1;
    if (!SendMessageTimeoutA(app_.dialog(), WM_HOOKKEY, code, 0, SMTO_NORMAL, 2000, &result) || result != 0) {
      answers = "code " + std::to_string(code) + " answered " + std::to_string(result);
      break;
    }
  }
  Record("K-03", "codes 0 to 255 sent (not posted), no key down", "every report answered 0; no effect",
         answers + "; " + Effects(app_));

  const ULONGLONG start = GetTickCount64();
  for (int i = 0; i < 10000; ++i) PostReport(app_, VK_INSERT);
  const bool handled = Flush(app_, 30000);
  std::printf("10,000 reports posted and handled in %llu ms\n", GetTickCount64() - start);
  Record("K-04", "10,000 INSERT reports in a burst, INSERT not held", "all handled; no effect",
         std::string(handled ? "all handled" : "not all handled") + "; " + Effects(app_));

  // The same while the framework's message is open: its modal loop handles them.
  ASSERT_TRUE(app_.SetText(IDC_LINE_RED, "300"));
  app_.Click(IDC_SET_LINE);
  const std::optional<MessageBoxInfo> box = app_.WaitForMessageBox();
  ASSERT_TRUE(box.has_value());
  for (int i = 0; i < 2560; ++i) PostReport(app_, static_cast<WPARAM>(i % 256));
  Flush(app_, 30000);
  std::string observed = IsWindowVisible(box->window) ? "the message stays open" : "the message closed";
  Dismiss(*box);
  WaitForCalls(app_, kLineCall, 1);
  Flush(app_);
  ASSERT_TRUE(app_.SetText(IDC_LINE_RED, "255"));
  // The command's own call is expected; anything else is an effect of the reports.
  observed += "; " + Effects(app_, {kLineCall});
  Record("K-05", "codes 0 to 255 posted ten times over while the framework's message is open",
         "the message stays open; no effect", observed);
}

// ---------------------------------------------------------------------------------------------------------
// E: ending in every state. Each state is entered in a fresh program; then CLOSE is clicked, Escape pressed
// where the focus is, or the close command sent to the dialog (as its close box or the task bar does). Both are
// posted: with one of the program's boxes open the dialog is disabled and would ignore the mouse, but a posted
// click still reaches CLOSE, which makes it the harder case. (The system ignores the close command of a
// disabled window, as it ignores its close box.)

enum class Action { Close, Escape, CloseBox };

const char* ToString(Action action) {
  switch (action) {
    case Action::Close: return "CLOSE";
    case Action::Escape: return "Escape";
    case Action::CloseBox: return "the close box";
  }
  return "";
}

// How the program ended: its exit code and whether it released both libraries, after any call it made.
std::string Ending(const App& app, std::optional<DWORD> code) {
  if (!code) return "does not end";
  const Trace trace = app.ReadTrace();
  std::string text = "exit " + std::to_string(*code);
  text += EndsWithTeardown(trace) ? ", both released" : ", not released: " + Printable(trace.Text());
  const std::vector<std::string> outline = trace.Outline();
  if (std::find(outline.begin(), outline.end(), "<unparsed>") != outline.end()) text += ", a call cut short";
  return text;
}

struct State {
  const char* name;
  const char* script;
  std::function<bool(const App&)> enter;  // true once the state is reached
  const char* what;                       // what is open, for the table
  // What must follow CLOSE, Escape and the close box.
  std::string expected[3];
};

bool Clicked(const App& app, int id) {
  app.Click(id);
  return app.WaitForMessageBox().has_value();
}

// What a user would expect in each state:
// - Escape goes to the window that has the focus: an open box takes it and closes, and the dialog stays.
// - CLOSE and the close box belong to the dialog. While one of the program's own boxes is open the dialog is
//   disabled: the system ignores the close box then, and a user cannot click CLOSE. Posted all the same, CLOSE
//   reads the fields: it ends the program once the box is closed, or meets the same refused field and says so
//   again. A library's own box does not disable the dialog; there both end the program once the library's call
//   has returned. During a slow call everything waits for the call.
// - Whenever the program ends, it ends with exit code 0, having released both libraries.
std::string Stays(const std::string& what) {
  return "the " + what + " stays open; once dismissed the dialog stays; Escape then ends it (exit 0, both released)";
}
std::string Ends(const std::string& what) {
  return "the " + what + " stays open; once dismissed the program ends (exit 0, both released)";
}
std::string Closes(const std::string& what) {
  return "the " + what + " closes; Escape then ends it (exit 0, both released)";
}

std::vector<State> States() {
  return {
      {"the framework's message open (300 in line red, CLOSE)",
       "",
       [](const App& app) { return app.SetText(IDC_LINE_RED, "300") && Clicked(app, IDOK); },
       "message",
       {"the message stays open, and the same message comes once more; once dismissed the dialog stays; Escape "
        "then ends it (exit 0, both released)",
        Closes("message"), Stays("message")}},
      {"\"HVSI_ShowFPS ERROR.\" open",
       "HVSI_ShowFPS=0\n",
       [](const App& app) { return Clicked(app, IDC_SHOW_FPS); },
       "message",
       {Ends("message"), Closes("message"), Stays("message")}},
      {"the About box open",
       "",
       [](const App& app) {
         PostMessageA(app.dialog(), WM_SYSCOMMAND, IDM_ABOUT, 0);
         return WaitUntil([&] {
           const std::vector<HWND> boxes = app.OpenBoxes();
           return !boxes.empty() && WindowText(boxes.front()) == kAboutTitle;
         });
       },
       "About box",
       {Ends("About box"), Closes("About box"), Stays("About box")}},
      {"a library's own message box open during \"Set Text Data\"",
       "HVSL_SetTextLineData_message_box=1\n",
       [](const App& app) { return Clicked(app, IDC_SET_LINE); },
       "library's box",
       {Ends("library's box"), Closes("library's box"), Ends("library's box")}},
      {"a library call of half a second under way",
       "HVSL_SetTextLineData_delay_ms=500\n",
       [](const App& app) {
         app.Click(IDC_SET_LINE);
         return WaitUntil([&] { return !Answers(app.dialog(), 50); }, 2000);
       },
       "call",
       {"ends once the call has returned (exit 0, both released)",
        "ends once the call has returned (exit 0, both released)",
        "ends once the call has returned (exit 0, both released)"}},
  };
}

void Act(const App& app, Action action) {
  switch (action) {
    case Action::Close:
      app.Click(IDOK);
      break;
    case Action::Escape:
      app.PressKey(0, VK_ESCAPE);
      break;
    case Action::CloseBox:
      PostMessageA(app.dialog(), WM_SYSCOMMAND, SC_CLOSE, 0);
      break;
  }
}

// What happens after the action: at once, after what was open has been dismissed, and after Escape.
std::string ObserveEnding(const App& app, const State& state, Action action) {
  const std::vector<HWND> open = app.OpenBoxes();
  Act(app, action);
  // Flush returns once the action has been handled, or, when it ended the dialog's loop, once the program has
  // ended; the short wait is for the last moments of its exit.
  Flush(app);
  std::optional<DWORD> code = app.WaitForExit(100);
  const std::string what = state.what;
  if (code) return (what == "call" ? "ends once the call has returned (" : "ends at once (") + Ending(app, code) + ")";

  std::string observed;
  std::vector<HWND> now = app.OpenBoxes();
  const bool stillOpen = !open.empty() && std::find(now.begin(), now.end(), open.front()) != now.end();
  if (what == "call") {
    observed = "the dialog stays";
  } else {
    observed = "the " + what + (stillOpen ? " stays open" : " closes");
    const std::string text = open.empty() ? std::string() : WindowText(GetDlgItem(open.front(), 0xFFFF));
    for (HWND box : now) {
      if (box == open.front()) continue;
      observed += WindowText(GetDlgItem(box, 0xFFFF)) == text ? ", and the same message comes once more"
                                                               : ", and \"" + WindowText(box) + "\" opens";
    }
  }
  // Dismiss whatever is open, newest first, then see whether the program ends.
  if (!now.empty()) {
    for (int round = 0; round < 5 && !(now = app.OpenBoxes()).empty(); ++round) {
      for (HWND child = GetWindow(now.front(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (ClassName(child) == "Button") {
          PostClick(child);
          break;
        }
      }
      WaitUntil([&] { return !IsWindow(now.front()) || !IsWindowVisible(now.front()); }, 2000);
    }
    Flush(app);
    code = app.WaitForExit(100);
    if (code) return observed + "; once dismissed the program ends (" + Ending(app, code) + ")";
    observed += "; once dismissed the dialog stays";
  }
  app.PressKey(0, VK_ESCAPE);
  code = app.WaitForExit();
  return observed + "; Escape then " + (code ? "ends it (" + Ending(app, code) + ")" : "does not end it");
}

TEST(HardeningEnding, EveryStateAndWayToClose) {
  int n = 0;
  for (const State& state : States()) {
    for (Action action : {Action::Close, Action::Escape, Action::CloseBox}) {
      App app;
      app.WriteScript(state.script);
      ASSERT_TRUE(app.Start());
      ASSERT_TRUE(app.WaitForDialog());
      const std::string input = std::string(state.name) + "; " + ToString(action);
      const std::string& expected = state.expected[static_cast<int>(action)];
      Record("E-" + Number(++n), input, expected,
             state.enter(app) ? ObserveEnding(app, state, action) : "the state was not reached");
    }
  }
}

// ---------------------------------------------------------------------------------------------------------
// C: fifty runs in a row, ten for each way to close the dialog. Two programs run side by side, five runs each,
// which halves the time; each has its own folder and is driven through its own windows only.

struct Cycles {
  int clean = 0;
  std::string firstFault;
};

// Starts the program `runs` times and closes it in the given way; counts the runs that end with exit code 0
// after start-up and teardown and nothing else, and describes the first that does not.
Cycles RunCycles(const std::function<void(const App&)>& close, int runs) {
  std::vector<std::string> expected = kStartup;
  expected.insert(expected.end(), kTeardown.begin(), kTeardown.end());
  Cycles cycles;
  for (int run = 0; run < runs; ++run) {
    App app;
    std::string fault;
    if (!app.Start() || !app.WaitForDialog()) {
      fault = "no dialog";
    } else {
      close(app);
      const std::optional<DWORD> code = app.WaitForExit();
      const Trace trace = app.ReadTrace();
      if (!code) {
        fault = "did not end";
      } else if (*code != 0) {
        fault = "exit " + std::to_string(*code);
      } else if (trace.Outline() != expected) {
        fault = "trace " + Printable(trace.Text());
      }
    }
    if (fault.empty()) {
      ++cycles.clean;
    } else if (cycles.firstFault.empty()) {
      cycles.firstFault = "; " + fault;
    }
  }
  return cycles;
}

TEST(HardeningCycles, FiftyStartsAndCloses) {
  const struct {
    const char* id;
    const char* how;
    std::function<void(const App&)> close;
  } ways[] = {
      {"C-01", "CLOSE", [](const App& app) { app.Click(IDOK); }},
      {"C-02", "Enter in the line text", [](const App& app) { app.PressKey(IDC_LINE_TEXT, VK_RETURN); }},
      {"C-03", "Escape", [](const App& app) { app.PressKey(IDC_LINE_TEXT, VK_ESCAPE); }},
      {"C-04", "the close box", [](const App& app) { PostMessageA(app.dialog(), WM_SYSCOMMAND, SC_CLOSE, 0); }},
      {"C-05", "WM_CLOSE", [](const App& app) { PostMessageA(app.dialog(), WM_CLOSE, 0, 0); }},
  };
  for (const auto& way : ways) {
    Cycles side;
    const Thread beside([&] { side = RunCycles(way.close, 5); });
    Cycles cycles = RunCycles(way.close, 5);
    beside.Join();
    cycles.clean += side.clean;
    if (cycles.firstFault.empty()) cycles.firstFault = side.firstFault;
    Record(way.id, std::string("start, then ") + way.how + "; ten times",
           "10 of 10 end with exit 0, both libraries released",
           std::to_string(cycles.clean) + " of 10 end with exit 0, both libraries released" + cycles.firstFault);
  }
}

// ---------------------------------------------------------------------------------------------------------
// S: library search

// One library beside the program, the other only in the working directory: the planted one is never loaded,
// so the program reports it missing, releases what it loaded and ends.
TEST(HardeningSearch, LibraryOnlyInTheWorkingDirectory) {
  const struct {
    const char* id;
    const char* planted;
    const char* message;
    std::vector<std::string> trace;
  } cases[] = {
      {"S-01", "HVHook.dll", "HVHOOK.DLL not found !", {"hvcomms.dll:attach", "hvcomms.dll:detach by=FreeLibrary"}},
      {"S-02", "hvcomms.dll", "HVCOMMS.DLL not found !", {}},
  };
  for (const auto& c : cases) {
    Libraries libraries;
    const bool hook = std::string(c.planted) == "HVHook.dll";
    (hook ? libraries.hook : libraries.comms).clear();
    libraries.separateWorkingDirectory = true;
    App app(libraries);
    fs::copy_file(BinFolder() / "standins" / "full" / c.planted, app.workingDirectory() / c.planted);
    ASSERT_TRUE(app.Start());
    const std::optional<MessageBoxInfo> box = app.WaitForMessageBox();
    std::string observed = box ? Describe(*box, Icon::Error) : "no message";
    if (box) Dismiss(*box);
    const std::optional<DWORD> code = app.WaitForExit();
    observed += code ? "; exit " + std::to_string(*code) : "; does not end";
    observed += fs::exists(app.workingDirectory() / "trace.log") ? "; the planted library was loaded"
                                                                  : "; the planted library is never loaded";
    const Trace trace = app.ReadTrace();
    observed += trace.Outline() == c.trace ? "" : "; trace " + Printable(trace.Text());
    Record(c.id, std::string(c.planted) + " only in the working directory, the other library beside the program",
           std::string("message \"") + c.message + "\"; exit 0; the planted library is never loaded", observed);
  }
}

// ---------------------------------------------------------------------------------------------------------
// The table, written beside this program and compared with docs/hardening.md (copied there by the build).

TEST(HardeningTable, DocumentListsEveryCase) {
  const fs::path observedFile = BinFolder() / "hardening.observed.md";
  const std::string document = MarkdownDocument(Rows());
  std::ofstream(observedFile, std::ios::binary | std::ios::trunc) << document;

  const ::testing::UnitTest& unit = *::testing::UnitTest::GetInstance();
  for (int i = 0; i < unit.total_test_suite_count(); ++i) {
    const ::testing::TestSuite& suite = *unit.GetTestSuite(i);
    if (std::string(suite.name()).rfind("Hardening", 0) != 0) continue;
    for (int j = 0; j < suite.total_test_count(); ++j) {
      if (!suite.GetTestInfo(j)->should_run()) GTEST_SKIP() << "not every Hardening test ran";
    }
  }
  if (unit.failed_test_count() > 0) GTEST_SKIP() << "a Hardening test failed; its table is in " << observedFile;

  std::ifstream in(BinFolder() / "hardening.md", std::ios::binary);
  std::istringstream run(document);
  std::string committedLine;
  std::string runLine;
  for (int line = 1;; ++line) {
    const bool inCommitted = static_cast<bool>(std::getline(in, committedLine));
    const bool inRun = static_cast<bool>(std::getline(run, runLine));
    if (!inCommitted && !inRun) break;
    if (inCommitted != inRun || committedLine != runLine) {
      FAIL() << "docs/hardening.md does not list the cases tested; first difference at line " << line
             << ":\n  docs/hardening.md: " << (inCommitted ? committedLine : "(ends)")
             << "\n  this run:          " << (inRun ? runLine : "(ends)") << "\nThis run's table is "
             << observedFile.string() << ": copy it to docs/hardening.md if the change is intended.";
    }
  }
}
}  // namespace
}  // namespace e2e
