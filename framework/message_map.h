// A dialog's message map: a static table of {message, notification, control id, handler}, scanned in order
// by the dialog procedure. Handlers have typed signatures; the table tells which one each entry holds.
#pragma once

#include <windows.h>

#include <cstddef>
#include <type_traits>
#include <variant>

template <class T>
struct MessageMapEntry {
  using Command = void (T::*)();                        // a control's notification; also plain messages
  using Message = LRESULT (T::*)(WPARAM, LPARAM);       // a message whose result is the handler's
  using SysCommand = void (T::*)(UINT, LPARAM);         // WM_SYSCOMMAND: command id and cursor position
  using DragIcon = HCURSOR (T::*)();                    // WM_QUERYDRAGICON

  UINT message;
  UINT notifyCode;  // for WM_COMMAND only
  int controlId;    // for WM_COMMAND only
  std::variant<Command, Message, SysCommand, DragIcon> handler;
};

template <class T>
constexpr MessageMapEntry<T> CommandEntry(UINT notifyCode, int controlId, void (T::*handler)()) {
  return {WM_COMMAND, notifyCode, controlId, handler};
}

template <class T, class Handler>
constexpr MessageMapEntry<T> MessageEntry(UINT message, Handler handler) {
  return {message, 0, 0, handler};
}

// Messages whose result a dialog procedure returns itself instead of through DWLP_MSGRESULT.
inline bool DialogReturnsResultDirectly(UINT message) {
  switch (message) {
    case WM_QUERYDRAGICON:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_INITDIALOG:
      return true;
    default:
      return message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC;
  }
}

// Finds the entry for a message and calls its handler. Returns false when the map has none, so the
// message goes on to the base dialog and then to the system's default handling.
template <class T, std::size_t N>
bool DispatchMessageMap(T& target, const MessageMapEntry<T> (&map)[N], UINT message, WPARAM wParam,
                        LPARAM lParam, LRESULT& result) {
  for (const MessageMapEntry<T>& entry : map) {
    if (entry.message != message) continue;
    if (message == WM_COMMAND &&
        (HIWORD(wParam) != entry.notifyCode || static_cast<int>(LOWORD(wParam)) != entry.controlId)) {
      continue;
    }
    result = 0;
    std::visit(
        [&](auto handler) {
          using Handler = decltype(handler);
          if constexpr (std::is_same_v<Handler, typename MessageMapEntry<T>::Command>) {
            (target.*handler)();
          } else if constexpr (std::is_same_v<Handler, typename MessageMapEntry<T>::Message>) {
            result = (target.*handler)(wParam, lParam);
          } else if constexpr (std::is_same_v<Handler, typename MessageMapEntry<T>::SysCommand>) {
            (target.*handler)(static_cast<UINT>(wParam), lParam);
          } else {
            result = reinterpret_cast<LRESULT>((target.*handler)());
          }
        },
        entry.handler);
    return true;
  }
  return false;
}
