// Reads the resources back from the built va_vazu.exe and compares them, field by field, with the
// layout the program relies on: both dialog templates with every control, the system-menu string, the
// icon group and the version record, all in German (0x0407), and nothing else, no manifest either.
//
// The binary is checked rather than the resource script, because resource compilers add style bits of
// their own; a control must carry exactly the listed styles plus WS_CHILD | WS_VISIBLE.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "res/resource.h"

namespace {

constexpr WORD kGerman = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);  // 0x0407

// ---------------------------------------------------------------------------------------------------
// Access to the program file

HMODULE Program() {
  static HMODULE module = [] {
    char path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, n);
    dir.erase(dir.find_last_of("\\/") + 1);
    return LoadLibraryExA((dir + "va_vazu.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  }();
  return module;
}

struct Bytes {
  const uint8_t* data = nullptr;
  size_t size = 0;
};

// The resource of this type and name in German, or an empty block if there is none.
Bytes Resource(LPCSTR type, int id) {
  HRSRC found = FindResourceExA(Program(), type, MAKEINTRESOURCEA(id), kGerman);
  if (!found) return {};
  HGLOBAL loaded = LoadResource(Program(), found);
  return {static_cast<const uint8_t*>(LockResource(loaded)), SizeofResource(Program(), found)};
}

// Sequential little-endian reader that refuses to run past the end of its block.
class Reader {
 public:
  explicit Reader(Bytes b, size_t pos = 0) : b_(b), pos_(pos) {}

  size_t pos() const { return pos_; }
  void Seek(size_t pos) {
    Need(pos, 0);
    pos_ = pos;
  }

  template <typename T>
  T Get() {
    Need(pos_, sizeof(T));
    T v;
    std::memcpy(&v, b_.data + pos_, sizeof(T));
    pos_ += sizeof(T);
    return v;
  }

  std::wstring String() {
    std::wstring s;
    for (wchar_t c; (c = static_cast<wchar_t>(Get<WORD>())) != 0;) s += c;
    return s;
  }

 private:
  void Need(size_t at, size_t n) const {
    if (at > b_.size || n > b_.size - at) throw std::runtime_error("resource data ends early");
  }
  Bytes b_;
  size_t pos_;
};

size_t Align4(size_t pos) { return (pos + 3) & ~size_t{3}; }

// A name or an ordinal, as dialog templates store menus, classes and control texts.
struct NameOrOrdinal {
  bool ordinal = false;
  WORD number = 0;
  std::wstring name;

  static NameOrOrdinal Read(Reader& r) {
    NameOrOrdinal v;
    WORD first = r.Get<WORD>();
    if (first == 0xFFFF) {
      v.ordinal = true;
      v.number = r.Get<WORD>();
    } else if (first != 0) {
      v.name = static_cast<wchar_t>(first) + r.String();
    }
    return v;
  }
  bool empty() const { return !ordinal && name.empty(); }
};

// ---------------------------------------------------------------------------------------------------
// Dialog templates

struct Item {
  DWORD style, exStyle;
  short x, y, cx, cy;
  int32_t id;
  NameOrOrdinal cls, text;
  WORD extraBytes;
};

struct Dialog {
  bool extended;
  DWORD style, exStyle;
  short cx, cy;
  NameOrOrdinal menu, cls;
  std::wstring title;
  WORD pointSize = 0;
  std::wstring font;
  std::vector<Item> items;
};

// Parses a DLGTEMPLATEEX with its DLGITEMTEMPLATEEX items, or a plain DLGTEMPLATE with DLGITEMTEMPLATE
// items.
Dialog ParseDialog(Bytes b) {
  Reader r(b);
  Dialog d{};
  WORD count;
  if (r.Get<WORD>() == 1 && r.Get<WORD>() == 0xFFFF) {
    d.extended = true;
    r.Get<DWORD>();  // help id
    d.exStyle = r.Get<DWORD>();
    d.style = r.Get<DWORD>();
  } else {
    r.Seek(0);
    d.style = r.Get<DWORD>();
    d.exStyle = r.Get<DWORD>();
  }
  count = r.Get<WORD>();
  r.Get<short>();  // x
  r.Get<short>();  // y
  d.cx = r.Get<short>();
  d.cy = r.Get<short>();
  d.menu = NameOrOrdinal::Read(r);
  d.cls = NameOrOrdinal::Read(r);
  d.title = r.String();
  if (d.style & DS_SETFONT) {
    d.pointSize = r.Get<WORD>();
    if (d.extended) {
      r.Get<WORD>();  // weight
      r.Get<BYTE>();  // italic
      r.Get<BYTE>();  // character set
    }
    d.font = r.String();
  }
  for (WORD i = 0; i < count; ++i) {
    r.Seek(Align4(r.pos()));
    Item it{};
    if (d.extended) {
      r.Get<DWORD>();  // help id
      it.exStyle = r.Get<DWORD>();
      it.style = r.Get<DWORD>();
    } else {
      it.style = r.Get<DWORD>();
      it.exStyle = r.Get<DWORD>();
    }
    it.x = r.Get<short>();
    it.y = r.Get<short>();
    it.cx = r.Get<short>();
    it.cy = r.Get<short>();
    it.id = d.extended ? static_cast<int32_t>(r.Get<DWORD>()) : r.Get<short>();
    it.cls = NameOrOrdinal::Read(r);
    it.text = NameOrOrdinal::Read(r);
    it.extraBytes = r.Get<WORD>();
    r.Seek(r.pos() + it.extraBytes);
    d.items.push_back(it);
  }
  return d;
}

Dialog LoadDialog(int id) {
  Bytes b = Resource(RT_DIALOG, id);
  if (!b.data) throw std::runtime_error("dialog template " + std::to_string(id) + " is missing");
  return ParseDialog(b);
}

// Predefined classes may be stored as atoms or as names, in any case; both create the same control.
std::wstring ClassName(const NameOrOrdinal& c) {
  if (c.ordinal) {
    switch (c.number) {
      case 0x80: return L"button";
      case 0x81: return L"edit";
      case 0x82: return L"static";
      default: return L"#" + std::to_wstring(c.number);
    }
  }
  std::wstring s = c.name;
  for (auto& ch : s) ch = static_cast<wchar_t>(std::towlower(ch));
  return s;
}

std::string Hex(DWORD v) {
  std::ostringstream s;
  s << "0x" << std::hex << v;
  return s.str();
}

// Compares style words and names the bits that differ.
testing::AssertionResult SameBits(DWORD actual, DWORD expected) {
  if (actual == expected) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "is " << Hex(actual) << ", expected " << Hex(expected)
                                     << " (extra " << Hex(actual & ~expected) << ", missing "
                                     << Hex(expected & ~actual) << ")";
}

// One expected control. The styles are those listed for it; every control also is WS_CHILD | WS_VISIBLE.
struct Row {
  int id;
  const wchar_t* cls;
  DWORD style;
  DWORD exStyle;
  const wchar_t* text;  // nullptr: the text is the ordinal of the icon IDI_APP
  short x, y, cx, cy;
};

constexpr DWORD kEdit = ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;
constexpr DWORD kDigits = ES_NUMBER | kEdit;
constexpr DWORD kDigitsRight = ES_RIGHT | kDigits;
constexpr DWORD kLabel = SS_LEFT | SS_CENTERIMAGE | WS_GROUP;
constexpr DWORD kCheck = BS_AUTOCHECKBOX | WS_TABSTOP;
constexpr DWORD kPush = BS_PUSHBUTTON | WS_TABSTOP;
constexpr DWORD kDefault = BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP;
constexpr DWORD kFirstRadio = BS_AUTORADIOBUTTON | WS_GROUP;
constexpr DWORD kCentred = SS_CENTER | WS_GROUP;
constexpr DWORD kCentredMiddle = SS_CENTER | SS_CENTERIMAGE | WS_GROUP;
constexpr DWORD kMultiline = ES_MULTILINE | ES_AUTOVSCROLL | WS_VSCROLL | WS_BORDER | WS_TABSTOP;
const wchar_t* const kColourHint = L"R,G,B,A color/alpha values for text. Input byte values (0..255)";

const Row kMainControls[] = {
    {IDC_STATIC, L"button", BS_GROUPBOX, 0, L"Single Ingame Text Line", 6, 6, 420, 84},
    {IDC_LINE_TEXT, L"edit", kEdit, 0, L"", 18, 18, 174, 12},
    {IDC_LINE_RED, L"edit", kDigits, 0, L"", 18, 36, 36, 12},
    {IDC_LINE_GREEN, L"edit", kDigits, 0, L"", 60, 36, 36, 12},
    {IDC_LINE_BLUE, L"edit", kDigits, 0, L"", 102, 36, 36, 12},
    {IDC_LINE_ALPHA, L"edit", kDigits, 0, L"", 144, 36, 36, 12},
    {IDC_STATIC, L"static", kCentred, 0, kColourHint, 18, 54, 162, 19},
    {IDC_LINE_BLACKBG, L"button", kCheck, 0, L"Use text with black background", 18, 78, 116, 10},
    {IDC_LINE_BOLD, L"button", kCheck, WS_EX_RIGHT, L"Bold Text", 138, 78, 54, 10},
    {IDC_LINE_PROPORTIONAL, L"button", kFirstRadio, 0, L"Proportional Font", 204, 18, 78, 6},
    {IDC_LINE_MONOSPACE, L"button", BS_AUTORADIOBUTTON, 0, L"Monospace Font", 204, 24, 78, 12},
    {IDC_LINE_X, L"edit", kDigitsRight, 0, L"", 204, 42, 24, 12},
    {IDC_STATIC, L"static", kLabel, 0, L"X (Pixels)", 234, 42, 30, 12},
    {IDC_LINE_Y, L"edit", kDigitsRight, 0, L"", 204, 54, 24, 12},
    {IDC_STATIC, L"static", kLabel, 0, L"Y (Pixels)", 234, 54, 30, 12},
    {IDC_LINE_SIZE, L"edit", kDigitsRight, 0, L"", 204, 72, 24, 12},
    {IDC_STATIC, L"static", kLabel, 0, L"Text Size (units)", 234, 72, 60, 12},
    {IDC_SET_LINE, L"button", kPush, 0, L"Set Text Data", 318, 18, 96, 24},
    {IDC_STATIC, L"static", kCentred, 0, L"Toggle ingame text line view by using the <INSERT> key", 318, 48,
     96, 18},
    {IDC_LINE_STATE, L"static", SS_LEFT | WS_GROUP, 0, L"Static", 324, 72, 84, 8},
    {IDC_STATIC, L"button", BS_GROUPBOX, 0, L"Keyboard Hook", 6, 96, 108, 210},
    {IDC_KEY_LOG, L"edit", kMultiline | ES_READONLY, 0, L"", 18, 108, 84, 162},
    {IDC_CLEAR_LOG, L"button", kPush, 0, L"Clear", 18, 276, 84, 24},
    {IDC_STATIC, L"button", BS_GROUPBOX, 0, L"Multiline Ingame Text", 126, 96, 300, 186},
    {IDC_MULTI_X, L"edit", kEdit, 0, L"", 138, 114, 24, 12},
    {IDC_STATIC, L"static", kLabel, 0, L"X-Pos (pixels)", 168, 114, 48, 12},
    {IDC_MULTI_Y, L"edit", kEdit, 0, L"", 138, 132, 24, 12},
    {IDC_STATIC, L"static", kLabel, 0, L"Y-Pos (pixels)", 168, 132, 48, 12},
    {IDC_MULTI_WIDTH, L"edit", kEdit, 0, L"", 138, 156, 24, 12},
    {IDC_STATIC, L"static", kLabel, 0, L"X-Size (pixels)", 168, 156, 48, 12},
    {IDC_MULTI_HEIGHT, L"edit", kEdit, 0, L"", 138, 174, 24, 12},
    {IDC_STATIC, L"static", kLabel, 0, L"Y-Size (pixels)", 168, 174, 48, 12},
    {IDC_MULTI_FONTSIZE, L"edit", kEdit, 0, L"", 138, 192, 24, 12},
    {IDC_STATIC, L"static", kLabel, 0, L"Font Size (units)", 168, 192, 60, 12},
    {IDC_MULTI_BLACKBG, L"button", kCheck, 0, L"Use text with black background", 138, 258, 114, 6},
    {IDC_STATIC, L"static", kCentredMiddle, 0, L"Toggle ingame using the <HOME/POS1> key", 228, 104, 186,
     8},
    {IDC_MULTI_STATE, L"static", kCentredMiddle, 0, L"Static", 228, 113, 186, 13},
    {IDC_MULTI_TEXT, L"edit", kMultiline | ES_WANTRETURN, 0, L"", 228, 132, 186, 72},
    {IDC_SET_MULTI, L"button", kPush, 0, L"Set Text Data", 336, 210, 72, 18},
    {IDOK, L"button", kDefault, 0, L"CLOSE", 186, 348, 50, 16},
    {IDC_STATIC, L"static", SS_RIGHT | WS_GROUP, 0, L"ver 1.3", 390, 360, 36, 8},
    {IDC_MULTI_RED, L"edit", kDigits, 0, L"", 138, 216, 36, 12},
    {IDC_MULTI_GREEN, L"edit", kDigits, 0, L"", 180, 216, 36, 12},
    {IDC_MULTI_BLUE, L"edit", kDigits, 0, L"", 222, 216, 36, 12},
    {IDC_MULTI_ALPHA, L"edit", kDigits, 0, L"", 264, 216, 36, 12},
    {IDC_STATIC, L"static", kCentred, 0, kColourHint, 138, 234, 162, 19},
    {IDC_MULTI_PROPORTIONAL, L"button", kFirstRadio, 0, L"Proportional Font", 324, 252, 78, 6},
    {IDC_MULTI_MONOSPACE, L"button", BS_AUTORADIOBUTTON, 0, L"Monospace Font", 324, 258, 78, 12},
    {IDC_PICTURE_PATH, L"edit", kEdit, 0, L"", 12, 324, 198, 12},
    {IDC_STATIC, L"button", BS_GROUPBOX, 0, L"Ingame Picture", 6, 312, 420, 30},
    {IDC_STATIC, L"static", SS_LEFT | WS_GROUP, 0,
     L"Enter path to your test picture here.\r\nToggle ingame with <END> key", 288, 320, 132, 18},
    {IDC_SET_PICTURE, L"button", kPush, 0, L"Set", 222, 324, 48, 12},
    {IDC_MULTI_BOLD, L"button", kCheck, 0, L"Bold Text", 138, 267, 54, 10},
    {IDC_SCREEN_SIZE, L"edit", ES_READONLY | kEdit, 0, L"", 126, 288, 78, 18},
    {IDC_GET_SCREEN_SIZE, L"button", kPush, 0, L"Get ScreenSize Info", 216, 288, 78, 18},
    {IDC_SHOW_FPS, L"button", kCheck, 0, L"Show FPS Info", 347, 293, 63, 10},
};

// The About box's notice line is ours to choose; only its style and place are fixed (text checked apart).
const wchar_t* const kAnyText = L"\x1";

const Row kAboutControls[] = {
    {IDC_STATIC, L"static", SS_ICON, 0, nullptr, 11, 17, 20, 20},
    {IDC_STATIC, L"static", SS_LEFT | SS_NOPREFIX | WS_GROUP, 0, L"Holvane Demo App", 40, 10, 119, 8},
    {IDC_STATIC, L"static", SS_LEFT | WS_GROUP, 0, kAnyText, 40, 25, 119, 8},
    {IDOK, L"button", kDefault, 0, L"OK", 178, 7, 50, 16},
};

template <size_t N>
void ExpectControls(const Dialog& d, const Row (&rows)[N]) {
  ASSERT_EQ(d.items.size(), N);
  for (size_t i = 0; i < N; ++i) {
    const Row& e = rows[i];
    const Item& a = d.items[i];
    SCOPED_TRACE("control #" + std::to_string(i + 1) + ", expected id " + std::to_string(e.id));
    EXPECT_EQ(a.id, e.id);
    EXPECT_EQ(ClassName(a.cls), e.cls);
    EXPECT_TRUE(SameBits(a.style, e.style | WS_CHILD | WS_VISIBLE)) << "style";
    EXPECT_TRUE(SameBits(a.exStyle, e.exStyle)) << "extended style";
    if (e.text == nullptr) {
      EXPECT_TRUE(a.text.ordinal && a.text.number == IDI_APP) << "text is not the ordinal of IDI_APP";
    } else if (e.text == kAnyText) {
      EXPECT_FALSE(a.text.ordinal);
      EXPECT_FALSE(a.text.name.empty());
    } else {
      EXPECT_FALSE(a.text.ordinal);
      EXPECT_EQ(a.text.name, e.text);
    }
    EXPECT_EQ(a.x, e.x);
    EXPECT_EQ(a.y, e.y);
    EXPECT_EQ(a.cx, e.cx);
    EXPECT_EQ(a.cy, e.cy);
    EXPECT_EQ(a.extraBytes, 0);
  }
}

void ExpectUniqueIds(const Dialog& d) {
  std::set<int32_t> seen;
  for (const Item& it : d.items) {
    if (it.id != IDC_STATIC) {
      EXPECT_TRUE(seen.insert(it.id).second) << "id " << it.id << " is used twice";
    }
  }
}

constexpr DWORD kDialogFrame =
    DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS | WS_POPUP | WS_CAPTION | WS_SYSMENU;

void ExpectDialogBasics(const Dialog& d, short cx, short cy, const wchar_t* title) {
  EXPECT_EQ(d.cx, cx);
  EXPECT_EQ(d.cy, cy);
  EXPECT_EQ(d.title, title);
  EXPECT_EQ(d.font, L"MS Shell Dlg");
  EXPECT_EQ(d.pointSize, 8);
  EXPECT_TRUE(d.menu.empty()) << "the dialog names a menu";
  EXPECT_TRUE(d.cls.empty()) << "the dialog names a window class";
}

TEST(DialogTemplates, MainDialogMatchesItsLayout) {
  Dialog d = LoadDialog(IDD_MAIN);
  ExpectDialogBasics(d, 430, 370, L"Holvane Demo App");
  EXPECT_TRUE(SameBits(d.style, kDialogFrame | WS_VISIBLE | WS_MINIMIZEBOX)) << "dialog style";
  EXPECT_TRUE(SameBits(d.exStyle, WS_EX_APPWINDOW)) << "dialog extended style";
  ExpectControls(d, kMainControls);
  ExpectUniqueIds(d);
}

TEST(DialogTemplates, AboutBoxMatchesItsLayout) {
  Dialog d = LoadDialog(IDD_ABOUT);
  ExpectDialogBasics(d, 235, 55, L"Info \u00fcber va_vazu");
  EXPECT_TRUE(SameBits(d.style, kDialogFrame)) << "dialog style";
  EXPECT_TRUE(SameBits(d.exStyle, 0)) << "dialog extended style";
  ExpectControls(d, kAboutControls);
  ExpectUniqueIds(d);
}

// ---------------------------------------------------------------------------------------------------
// String table

TEST(StringTable, HoldsOnlyTheAboutMenuEntry) {
  // Strings are stored in bundles of 16; string n is entry n % 16 of bundle n / 16 + 1.
  Bytes b = Resource(RT_STRING, IDS_ABOUT_MENU / 16 + 1);
  ASSERT_NE(b.data, nullptr);
  Reader r(b);
  for (int i = 0; i < 16; ++i) {
    WORD length = r.Get<WORD>();
    std::wstring s;
    for (WORD k = 0; k < length; ++k) s += static_cast<wchar_t>(r.Get<WORD>());
    if (i == IDS_ABOUT_MENU % 16) {
      EXPECT_EQ(s, L"&Info \u00fcber va_vazu...");
    } else {
      EXPECT_EQ(length, 0) << "unexpected string " << (IDS_ABOUT_MENU / 16 * 16 + i);
    }
  }
}

// ---------------------------------------------------------------------------------------------------
// Icon group

#pragma pack(push, 2)
struct GroupEntry {
  BYTE width, height, colourCount, reserved;
  WORD planes, bitCount;
  DWORD bytesInRes;
  WORD id;
};
#pragma pack(pop)

std::vector<GroupEntry> IconGroup() {
  Bytes b = Resource(RT_GROUP_ICON, IDI_APP);
  if (!b.data) throw std::runtime_error("icon group IDI_APP is missing");
  Reader r(b);
  EXPECT_EQ(r.Get<WORD>(), 0);  // reserved
  EXPECT_EQ(r.Get<WORD>(), 1);  // icons, not cursors
  std::vector<GroupEntry> entries(r.Get<WORD>());
  for (auto& e : entries) e = r.Get<GroupEntry>();
  return entries;
}

TEST(IconGroup, HoldsThreeSizesInThreeColourDepths) {
  std::set<std::pair<int, int>> found;
  for (const GroupEntry& e : IconGroup()) {
    SCOPED_TRACE("icon image " + std::to_string(e.id));
    found.insert({e.width, e.bitCount});
    EXPECT_EQ(e.height, e.width);
    EXPECT_EQ(e.planes, 1);
    EXPECT_EQ(e.colourCount, e.bitCount == 4 ? 16 : 0);

    // The image itself: a bitmap header of the same size and depth, then palette, colours and mask.
    Bytes image = Resource(RT_ICON, e.id);
    ASSERT_NE(image.data, nullptr);
    EXPECT_EQ(image.size, e.bytesInRes);
    BITMAPINFOHEADER h = Reader(image).Get<BITMAPINFOHEADER>();
    EXPECT_EQ(h.biSize, sizeof h);
    EXPECT_EQ(h.biWidth, e.width);
    EXPECT_EQ(h.biHeight, 2 * e.width);  // colour bits and mask
    EXPECT_EQ(h.biBitCount, e.bitCount);
    EXPECT_EQ(h.biCompression, static_cast<DWORD>(BI_RGB));
    size_t palette = h.biBitCount <= 8 ? (h.biClrUsed ? h.biClrUsed : 1u << h.biBitCount) * 4 : 0;
    size_t colourRow = (e.width * e.bitCount + 31) / 32 * 4;
    size_t maskRow = (e.width + 31) / 32 * 4;
    EXPECT_EQ(image.size, sizeof h + palette + (colourRow + maskRow) * e.width);
  }
  std::set<std::pair<int, int>> expected;
  for (int size : {48, 32, 16})
    for (int depth : {4, 8, 24}) expected.insert({size, depth});
  EXPECT_EQ(found, expected);
}

// ---------------------------------------------------------------------------------------------------
// Version record

// One node of the version record: a key, a value and child nodes.
struct VersionNode {
  std::wstring key;
  bool text;
  Bytes value;
  std::vector<VersionNode> children;

  std::wstring Text() const {
    std::wstring s(reinterpret_cast<const wchar_t*>(value.data), value.size / 2);
    while (!s.empty() && s.back() == L'\0') s.pop_back();
    return s;
  }
};

VersionNode ParseVersionNode(Bytes b, size_t start) {
  Reader r(b, start);
  const size_t end = start + r.Get<WORD>();
  if (end > b.size) throw std::runtime_error("version node runs past the record");
  const WORD valueLength = r.Get<WORD>();
  VersionNode n;
  n.text = r.Get<WORD>() == 1;
  n.key = r.String();
  r.Seek(Align4(r.pos()));
  const size_t valueBytes = n.text ? valueLength * 2u : valueLength;  // text lengths count characters
  n.value = {b.data + r.pos(), valueBytes};
  r.Seek(r.pos() + valueBytes);
  for (size_t pos = Align4(r.pos()); pos < end;) {
    const WORD length = Reader(b, pos).Get<WORD>();
    if (length == 0) throw std::runtime_error("empty version node");
    n.children.push_back(ParseVersionNode(b, pos));
    pos = Align4(pos + length);
  }
  return n;
}

TEST(VersionRecord, MatchesTheProgram) {
  Bytes b = Resource(RT_VERSION, VS_VERSION_INFO);
  ASSERT_NE(b.data, nullptr);
  VersionNode root = ParseVersionNode(b, 0);
  EXPECT_EQ(root.key, L"VS_VERSION_INFO");

  ASSERT_EQ(root.value.size, sizeof(VS_FIXEDFILEINFO));
  VS_FIXEDFILEINFO f = Reader(root.value).Get<VS_FIXEDFILEINFO>();
  EXPECT_EQ(f.dwSignature, 0xFEEF04BDu);
  // 1.4.0.0: major and minor in the high word, build and revision in the low word.
  EXPECT_EQ(Hex(f.dwFileVersionMS), Hex(0x00010004));
  EXPECT_EQ(Hex(f.dwFileVersionLS), Hex(0x00000000));
  EXPECT_EQ(Hex(f.dwProductVersionMS), Hex(0x00010004));
  EXPECT_EQ(Hex(f.dwProductVersionLS), Hex(0x00000000));
  EXPECT_EQ(Hex(f.dwFileFlagsMask), Hex(0x3F));
  EXPECT_EQ(Hex(f.dwFileFlags), Hex(0));
  EXPECT_EQ(Hex(f.dwFileOS), Hex(VOS__WINDOWS32));
  EXPECT_EQ(Hex(f.dwFileType), Hex(VFT_APP));
  EXPECT_EQ(Hex(f.dwFileSubtype), Hex(0));

  std::map<std::wstring, const VersionNode*> blocks;
  for (const VersionNode& c : root.children) blocks[c.key] = &c;
  ASSERT_EQ(blocks.size(), 2u);
  ASSERT_TRUE(blocks.count(L"StringFileInfo"));
  ASSERT_TRUE(blocks.count(L"VarFileInfo"));

  const VersionNode& strings = *blocks[L"StringFileInfo"];
  ASSERT_EQ(strings.children.size(), 1u);
  EXPECT_EQ(strings.children[0].key, L"040704e4");
  const std::vector<std::pair<std::wstring, std::wstring>> expected = {
      {L"CompanyName", L""},
      {L"FileDescription", L"d3d8 Holvane Dll Demo App"},
      {L"FileVersion", L"1.4.0.0"},
      {L"InternalName", L"va_vazu.exe"},
      {L"LegalCopyright", L""},
      {L"OriginalFilename", L"va_vazu.exe"},
      {L"ProductName", L"d3d8 Holvane Dll Demo App"},
      {L"ProductVersion", L"1.4.0.0"},
  };
  const auto& entries = strings.children[0].children;
  ASSERT_EQ(entries.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(entries[i].key, expected[i].first);
    EXPECT_TRUE(entries[i].text);
    if (expected[i].second.empty()) {
      EXPECT_FALSE(entries[i].Text().empty()) << "our own text, but not empty";
    } else {
      EXPECT_EQ(entries[i].Text(), expected[i].second);
    }
  }

  const VersionNode& vars = *blocks[L"VarFileInfo"];
  ASSERT_EQ(vars.children.size(), 1u);
  EXPECT_EQ(vars.children[0].key, L"Translation");
  ASSERT_EQ(vars.children[0].value.size, 4u);
  Reader t(vars.children[0].value);
  EXPECT_EQ(Hex(t.Get<WORD>()), Hex(0x0407));
  EXPECT_EQ(t.Get<WORD>(), 1252);
}

// ---------------------------------------------------------------------------------------------------
// Inventory

std::wstring Id(LPCWSTR name) {
  if (!IS_INTRESOURCE(name)) return name;
  return L"#" + std::to_wstring(reinterpret_cast<uintptr_t>(name));
}

// Every resource of the program as "type/name/language".
std::set<std::wstring> Inventory() {
  struct Walk {
    static BOOL CALLBACK Language(HMODULE, LPCWSTR type, LPCWSTR name, WORD lang, LONG_PTR out) {
      std::wostringstream s;
      s << Id(type) << L"/" << Id(name) << L"/" << std::hex << lang;
      reinterpret_cast<std::set<std::wstring>*>(out)->insert(s.str());
      return TRUE;
    }
    static BOOL CALLBACK Name(HMODULE m, LPCWSTR type, LPWSTR name, LONG_PTR out) {
      EnumResourceLanguagesW(m, type, name, Language, out);
      return TRUE;
    }
    static BOOL CALLBACK Type(HMODULE m, LPWSTR type, LONG_PTR out) {
      EnumResourceNamesW(m, type, Name, out);
      return TRUE;
    }
  };
  std::set<std::wstring> all;
  EnumResourceTypesW(Program(), Walk::Type, reinterpret_cast<LONG_PTR>(&all));
  return all;
}

TEST(Inventory, HoldsOnlyTheListedResourcesAllInGerman) {
  std::set<std::wstring> expected = {
      L"#5/#100/407",  // RT_DIALOG IDD_ABOUT
      L"#5/#102/407",  // RT_DIALOG IDD_MAIN
      L"#6/#7/407",    // RT_STRING, the bundle of IDS_ABOUT_MENU
      L"#14/#128/407", // RT_GROUP_ICON IDI_APP
      L"#16/#1/407",   // RT_VERSION
  };
  std::vector<GroupEntry> icons = IconGroup();
  EXPECT_EQ(icons.size(), 9u);
  for (const GroupEntry& e : icons) expected.insert(L"#3/#" + std::to_wstring(e.id) + L"/407");  // RT_ICON
  EXPECT_EQ(Inventory(), expected);
}

// No manifest from either build: Microsoft's linker embeds one unless told not to, and some MinGW-w64
// distributions link a default one into every program. One would change how the system treats the program
// (its compatibility settings, the elevation it asks for) between the two builds.
TEST(Inventory, HasNoManifest) {
  for (const std::wstring& resource : Inventory()) {
    EXPECT_NE(resource.rfind(L"#24/", 0), 0u) << "a manifest (RT_MANIFEST): " << resource;
  }
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (!Program()) {
    std::fprintf(stderr, "cannot open va_vazu.exe beside this test (error %lu)\n", GetLastError());
    return 1;
  }
  return RUN_ALL_TESTS();
}
