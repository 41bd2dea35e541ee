#include "framework/data_exchange.h"

#include "core/field_rules.h"
#include "framework/button.h"
#include "framework/dialog.h"
#include "framework/message_box.h"

namespace {

bool IsReadOnlyEdit(HWND control) {
  return (::GetWindowLongA(control, GWL_STYLE) & ES_READONLY) != 0;
}

// Writes a field's text into its control, touching the control only as much as needed: a control that
// already shows the text is left alone, and a read-only box whose text is the start of the field (a log
// that grew) gets just the new end appended. Rewriting a long text would make the control lay out every
// line again, on every write of the fields.
void WriteText(HWND control, const std::string& text) {
  const int currentLength = ::GetWindowTextLengthA(control);
  if (currentLength >= 0 && static_cast<std::size_t>(currentLength) <= text.size()) {
    const std::string current = GetWindowTextString(control);
    if (current == text) return;
    if (!current.empty() && IsReadOnlyEdit(control) && text.compare(0, current.size(), current) == 0) {
      // The user cannot type into a read-only box, so lifting its typing limit changes nothing for
      // them; it lets the appended text through past the default 32767 characters.
      ::SendMessageA(control, EM_SETLIMITTEXT, 0, 0);
      ::SendMessageA(control, EM_SETSEL, 0x7FFFFFFF, 0x7FFFFFFF);
      ::SendMessageA(control, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str() + current.size()));
      if (::GetWindowTextLengthA(control) == static_cast<int>(text.size())) return;
    }
  }
  ::SetWindowTextA(control, text.c_str());
}

template <class Number>
void ExchangeNumber(CDataExchange* exchange, int id, Number& value, std::uint32_t maximum, const char* message) {
  if (exchange->Failed()) return;
  HWND control = exchange->Control(id);
  if (!exchange->m_bSaveAndValidate) {
    WriteText(control, core::FormatUnsignedField(value));
    return;
  }
  const auto parsed = core::ParseUnsignedField(GetWindowTextString(control), maximum);
  if (!parsed) {
    exchange->Fail(id, message);
    return;
  }
  value = static_cast<Number>(*parsed);
}

}  // namespace

HWND CDataExchange::Control(int id) const { return m_dialog.GetDlgItem(id); }

void CDataExchange::ReportFailure() const {
  AfxMessageBox(m_failMessage, MB_OK | MB_ICONEXCLAMATION, 0);
  HWND control = Control(m_failedId);
  if (control == nullptr) return;
  // WM_NEXTDLGCTL rather than SetFocus, so the dialog also moves its default-button highlight.
  m_dialog.SendMessage(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
  ::SendMessageA(control, EM_SETSEL, 0, -1);
}

void DDX_Text(CDataExchange* exchange, int id, std::string& value) {
  if (exchange->Failed()) return;
  HWND control = exchange->Control(id);
  if (exchange->m_bSaveAndValidate) {
    value = GetWindowTextString(control);
  } else {
    WriteText(control, value);
  }
}

void DDX_Text(CDataExchange* exchange, int id, std::uint32_t& value) {
  ExchangeNumber(exchange, id, value, 0xFFFFFFFFu, "Please enter a whole number from 0 to 4294967295.");
}

void DDX_Text(CDataExchange* exchange, int id, std::uint8_t& value) {
  ExchangeNumber(exchange, id, value, 255u, "Please enter a whole number from 0 to 255.");
}

void DDX_Check(CDataExchange* exchange, int id, int& value) {
  if (exchange->Failed()) return;
  HWND control = exchange->Control(id);
  if (exchange->m_bSaveAndValidate) {
    value = static_cast<int>(::SendMessageA(control, BM_GETCHECK, 0, 0));
  } else if (::SendMessageA(control, BM_GETCHECK, 0, 0) != value) {
    ::SendMessageA(control, BM_SETCHECK, static_cast<WPARAM>(value), 0);
  }
}

void DDX_Control(CDataExchange* exchange, int id, CButton& control) {
  if (exchange->Failed() || control.IsAttached()) return;
  control.Attach(exchange->Control(id));
}
