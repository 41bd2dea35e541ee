#include "app/demo_dlg.h"

#include <vector>

#include "framework/data_exchange.h"
#include "framework/library.h"
#include "framework/message_box.h"
#include "framework/message_map.h"
#include "framework/win_app.h"
#include "overlay/hotkey_message.h"
#include "res/resource.h"

namespace {

constexpr char kCommsEntryPointsMissing[] = "HVCOMMS.DLL: One or more exported functions not found !";
constexpr char kHookEntryPointsMissing[] = "HVHOOK.DLL: One or more exported functions not found !";

template <class EntryPoint>
void Resolve(HMODULE module, const char* name, EntryPoint& entryPoint) {
  entryPoint = GetEntryPoint<EntryPoint>(module, name);
}

}  // namespace

CDemoDlg::CDemoDlg()
    : CDialog(IDD_MAIN), m_hIcon(::LoadIconA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(IDI_APP))) {}

CDemoDlg::~CDemoDlg() = default;

bool CDemoDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  static constexpr MessageMapEntry<CDemoDlg> kMessageMap[] = {
      MessageEntry<CDemoDlg>(WM_HOOKKEY, &CDemoDlg::OnHookKey),
      MessageEntry<CDemoDlg>(WM_SYSCOMMAND, &CDemoDlg::OnSysCommand),
      MessageEntry<CDemoDlg>(WM_PAINT, &CDemoDlg::OnPaint),
      MessageEntry<CDemoDlg>(WM_QUERYDRAGICON, &CDemoDlg::OnQueryDragIcon),
      CommandEntry<CDemoDlg>(BN_CLICKED, IDC_SET_LINE, &CDemoDlg::OnSetLineText),
      CommandEntry<CDemoDlg>(BN_CLICKED, IDC_CLEAR_LOG, &CDemoDlg::OnClearLog),
      CommandEntry<CDemoDlg>(BN_CLICKED, IDC_SET_MULTI, &CDemoDlg::OnSetMultilineText),
      CommandEntry<CDemoDlg>(BN_CLICKED, IDC_SET_PICTURE, &CDemoDlg::OnSetPicturePath),
      CommandEntry<CDemoDlg>(BN_CLICKED, IDC_GET_SCREEN_SIZE, &CDemoDlg::OnGetScreenSize),
      CommandEntry<CDemoDlg>(BN_CLICKED, IDC_SHOW_FPS, &CDemoDlg::OnShowFps),
  };
  return DispatchMessageMap(*this, kMessageMap, message, wParam, lParam, result);
}

void CDemoDlg::DoDataExchange(CDataExchange* exchange) {
  CDialog::DoDataExchange(exchange);
  DDX_Text(exchange, IDC_LINE_TEXT, m_strLineText);
  DDX_Text(exchange, IDC_LINE_X, m_nLineX);
  DDX_Text(exchange, IDC_LINE_Y, m_nLineY);
  DDX_Check(exchange, IDC_LINE_BLACKBG, m_bLineBlackBg);
  DDX_Text(exchange, IDC_LINE_RED, m_nLineRed);
  DDX_Text(exchange, IDC_LINE_GREEN, m_nLineGreen);
  DDX_Text(exchange, IDC_LINE_BLUE, m_nLineBlue);
  DDX_Text(exchange, IDC_LINE_ALPHA, m_nLineAlpha);
  DDX_Control(exchange, IDC_LINE_PROPORTIONAL, m_ctlLineProportional);
  DDX_Control(exchange, IDC_LINE_BOLD, m_ctlLineBold);
  DDX_Control(exchange, IDC_MULTI_BOLD, m_ctlMultiBold);
  DDX_Text(exchange, IDC_LINE_SIZE, m_nLineSize);
  DDX_Text(exchange, IDC_KEY_LOG, m_strKeyLog);
  DDX_Text(exchange, IDC_MULTI_TEXT, m_strMultiText);
  DDX_Text(exchange, IDC_MULTI_X, m_nMultiX);
  DDX_Text(exchange, IDC_MULTI_Y, m_nMultiY);
  DDX_Text(exchange, IDC_MULTI_WIDTH, m_nMultiWidth);
  DDX_Text(exchange, IDC_MULTI_HEIGHT, m_nMultiHeight);
  DDX_Text(exchange, IDC_MULTI_FONTSIZE, m_nMultiFontSize);
  DDX_Check(exchange, IDC_MULTI_BLACKBG, m_bMultiBlackBg);
  DDX_Text(exchange, IDC_MULTI_RED, m_nMultiRed);
  DDX_Text(exchange, IDC_MULTI_GREEN, m_nMultiGreen);
  DDX_Text(exchange, IDC_MULTI_BLUE, m_nMultiBlue);
  DDX_Text(exchange, IDC_MULTI_ALPHA, m_nMultiAlpha);
  DDX_Control(exchange, IDC_MULTI_PROPORTIONAL, m_ctlMultiProportional);
  DDX_Text(exchange, IDC_PICTURE_PATH, m_strPicturePath);
  DDX_Text(exchange, IDC_SCREEN_SIZE, m_strScreenSize);
  DDX_Control(exchange, IDC_SHOW_FPS, m_ctlShowFps);
}

BOOL CDemoDlg::OnInitDialog() {
  CDialog::OnInitDialog();

  // The entry goes in as UTF-16, as the string table holds it: through the ANSI calls its "ü" would become a
  // "u" in every code page that lacks the letter (932, 1251, 1253, ...). With a zero length, LoadStringW hands
  // out the string in place, which is not terminated. (A vector, as std::wstring would add 36 KB to the program.)
  if (HMENU systemMenu = ::GetSystemMenu(m_hWnd, FALSE)) {
    const wchar_t* text = nullptr;
    const int length = ::LoadStringW(AfxGetInstanceHandle(), IDS_ABOUT_MENU, reinterpret_cast<LPWSTR>(&text), 0);
    if (length > 0) {
      std::vector<wchar_t> item(text, text + length);
      item.push_back(L'\0');
      ::AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
      ::AppendMenuW(systemMenu, MF_STRING, IDM_ABOUT, item.data());
    }
  }

  SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

  m_ctlLineProportional.SetCheck(BST_CHECKED);
  m_ctlMultiProportional.SetCheck(BST_CHECKED);

  if (!BindLibraries()) return TRUE;

  ToggleLineText();
  ToggleMultilineText();
  m_entryPoints.HookOn(m_hWnd, 0);
  return TRUE;
}

bool CDemoDlg::FailBinding(const char* message) {
  AfxMessageBox(message, MB_ICONERROR, 0);
  ::PostQuitMessage(0);
  return false;
}

bool CDemoDlg::BindLibraries() {
  LibraryEntryTable& e = m_entryPoints;

  m_hCommsLib = AfxLoadLibrary(overlay::kCommsLibraryName);
  if (m_hCommsLib == nullptr) return FailBinding("HVCOMMS.DLL not found !");

  Resolve(m_hCommsLib, "HVSL_SetTextLineData", e.HVSL_SetTextLineData);
  Resolve(m_hCommsLib, "HVSL_ShowText", e.HVSL_ShowText);
  if (e.HVSL_SetTextLineData == nullptr || e.HVSL_ShowText == nullptr) {
    return FailBinding(kCommsEntryPointsMissing);
  }
  Resolve(m_hCommsLib, "HVML_SetTextMultilineData", e.HVML_SetTextMultilineData);
  Resolve(m_hCommsLib, "HVML_ShowText", e.HVML_ShowText);
  if (e.HVML_SetTextMultilineData == nullptr || e.HVML_ShowText == nullptr) {
    return FailBinding(kCommsEntryPointsMissing);
  }
  Resolve(m_hCommsLib, "HVPIC_LoadNewPicture", e.HVPIC_LoadNewPicture);
  Resolve(m_hCommsLib, "HVPIC_ShowPicturePos", e.HVPIC_ShowPicturePos);
  if (e.HVPIC_LoadNewPicture == nullptr || e.HVPIC_ShowPicturePos == nullptr) {
    return FailBinding(kCommsEntryPointsMissing);
  }
  Resolve(m_hCommsLib, "HVSI_GetScreenSize", e.HVSI_GetScreenSize);
  if (e.HVSI_GetScreenSize == nullptr) return FailBinding(kCommsEntryPointsMissing);
  Resolve(m_hCommsLib, "HVSI_ShowFPS", e.HVSI_ShowFPS);
  if (e.HVSI_ShowFPS == nullptr) return FailBinding(kCommsEntryPointsMissing);

  m_hHookLib = AfxLoadLibrary(overlay::kHookLibraryName);
  if (m_hHookLib == nullptr) return FailBinding("HVHOOK.DLL not found !");

  Resolve(m_hHookLib, "HookOn", e.HookOn);
  Resolve(m_hHookLib, "HookOff", e.HookOff);
  if (e.HookOn == nullptr || e.HookOff == nullptr) return FailBinding(kHookEntryPointsMissing);

  m_librariesBound = true;
  return true;
}

BOOL CDemoDlg::DestroyWindow() {
  m_librariesBound = false;
  if (m_hCommsLib != nullptr) {
    AfxFreeLibrary(m_hCommsLib);
    m_hCommsLib = nullptr;
  }
  if (m_hHookLib != nullptr) {
    if (m_entryPoints.HookOff != nullptr) m_entryPoints.HookOff();
    AfxFreeLibrary(m_hHookLib);
    m_hHookLib = nullptr;
  }
  m_entryPoints = LibraryEntryTable{};
  return CDialog::DestroyWindow();
}
