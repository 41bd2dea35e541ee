// The exchange of a dialog's fields with its controls, one DDX_ call per field in the exchange order.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

class CButton;
class CDialog;

class CDataExchange {
 public:
  CDataExchange(CDialog& dialog, bool saveAndValidate) : m_bSaveAndValidate(saveAndValidate), m_dialog(dialog) {}

  CDialog& Dialog() const { return m_dialog; }
  HWND Control(int id) const;

  // After a field has failed, the rest of the exchange leaves every field and control as it is.
  bool Failed() const { return m_failedId != 0; }
  void Fail(int controlId, const char* message) {
    m_failedId = controlId;
    m_failMessage = message;
  }
  // Tells the user why the field failed and puts the focus on its control with the text selected.
  void ReportFailure() const;

  const bool m_bSaveAndValidate;

 private:
  CDialog& m_dialog;
  int m_failedId = 0;
  const char* m_failMessage = nullptr;
};

void DDX_Text(CDataExchange* exchange, int id, std::string& value);
void DDX_Text(CDataExchange* exchange, int id, std::uint32_t& value);
void DDX_Text(CDataExchange* exchange, int id, std::uint8_t& value);
void DDX_Check(CDataExchange* exchange, int id, int& value);
void DDX_Control(CDataExchange* exchange, int id, CButton& control);
