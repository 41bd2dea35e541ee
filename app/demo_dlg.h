// The main dialog: all of the program's state, its exchange with the controls, binding of the product's
// libraries at start-up and their release at the end. Its commands live in commands/.
#pragma once

#include <cstdint>
#include <string>

#include "framework/button.h"
#include "framework/dialog.h"
#include "overlay/library_entry_table.h"

class CDemoDlg : public CDialog {
 public:
  CDemoDlg();
  ~CDemoDlg() override;

  BOOL DestroyWindow() override;

 protected:
  void DoDataExchange(CDataExchange* exchange) override;
  BOOL OnInitDialog() override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  bool BindLibraries();
  bool FailBinding(const char* message);

  // Overlay visibility toggles (commands/toggles.cpp).
  void ToggleLineText();
  void ToggleMultilineText();
  void TogglePicture();

  // Message handlers.
  LRESULT OnHookKey(WPARAM key, LPARAM);
  void OnSysCommand(UINT id, LPARAM lParam);
  void OnPaint();
  HCURSOR OnQueryDragIcon();
  void OnSetLineText();
  void OnClearLog();
  void OnSetMultilineText();
  void OnSetPicturePath();
  void OnGetScreenSize();
  void OnShowFps();

  HICON m_hIcon;
  HMODULE m_hCommsLib = nullptr;
  HMODULE m_hHookLib = nullptr;
  std::string m_strLineText = "this is a test";
  std::uint32_t m_nLineX = 0;
  std::uint32_t m_nLineY = 0;
  int m_bLineBlackBg = 0;
  std::uint8_t m_nLineRed = 255;
  std::uint8_t m_nLineGreen = 0;
  std::uint8_t m_nLineBlue = 0;
  std::uint8_t m_nLineAlpha = 255;
  CButton m_ctlLineProportional;
  CButton m_ctlLineBold;
  std::uint8_t m_nLineSize = 20;
  LibraryEntryTable m_entryPoints;
  std::string m_strKeyLog;
  std::string m_strMultiText = "Line1\r\nLine2\r\nLine3";
  std::uint32_t m_nMultiX = 20;
  std::uint32_t m_nMultiY = 40;
  std::uint32_t m_nMultiWidth = 100;
  std::uint32_t m_nMultiHeight = 100;
  std::uint8_t m_nMultiFontSize = 0;
  CButton m_ctlMultiBold;
  int m_bMultiBlackBg = 0;
  std::uint8_t m_nMultiRed = 255;
  std::uint8_t m_nMultiGreen = 0;
  std::uint8_t m_nMultiBlue = 0;
  std::uint8_t m_nMultiAlpha = 255;
  CButton m_ctlMultiProportional;
  std::string m_strPicturePath = "C:\\test.jpg";
  std::string m_strScreenSize;
  CButton m_ctlShowFps;

  // Set once both libraries and all ten entry points are there; until then no command calls them.
  bool m_librariesBound = false;
};
