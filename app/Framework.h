#pragma once

// A small dialog framework over plain Win32: an application object with InitInstance and
// ExitInstance, and modal dialogs with OnInitDialog, DoDataExchange, OnOK, OnCancel and a
// message map per class. Only as much as the converter's two dialogs need.

#include <windows.h>

#include <cstddef>
#include <string>
#include <variant>

namespace skm {

class Dialog;

// The process-wide application object. Exactly one exists; WinMain drives it.
class WinApp {
 public:
  WinApp();
  virtual ~WinApp();
  WinApp(const WinApp&) = delete;
  WinApp& operator=(const WinApp&) = delete;

  // Returns false to end the application instead of running a message loop.
  virtual BOOL InitInstance() = 0;
  virtual int ExitInstance();

  static WinApp* current();
  HINSTANCE instance() const;
  HICON loadIcon(UINT id) const;

  // The dialog that is the application's main window while it runs.
  Dialog* mainDialog = nullptr;
};

// Direction of a data exchange: false loads the controls, true saves them.
struct DataExchange {
  HWND dialog;
  bool saveAndValidate;
};

// A control bound to a dialog item by ddxControl.
class ProgressCtrl {
 public:
  HWND handle() const { return window; }
  void setRange32(int lower, int upper);
  void setPos(int position);

 private:
  friend void ddxControl(DataExchange& dx, int id, ProgressCtrl& control);
  HWND window = nullptr;
};

void ddxControl(DataExchange& dx, int id, ProgressCtrl& control);

// One row of a message map: a message, and for WM_COMMAND a notification code and control id,
// routed to a handler of one of the shapes the dialogs use.
template <class D>
struct MessageMapEntry {
  UINT message;
  UINT code;
  UINT id;
  std::variant<void (D::*)(), void (D::*)(UINT, LPARAM), HCURSOR (D::*)()> handler;
};

class Dialog {
 public:
  Dialog(UINT resourceId, HWND owner);
  virtual ~Dialog();
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  // Creates the dialog, runs its modal loop and destroys it; returns the EndDialog result or
  // -1 when the dialog could not be created.
  INT_PTR DoModal();
  HWND handle() const { return window; }

 protected:
  virtual BOOL OnInitDialog();
  virtual void DoDataExchange(DataExchange& dx);
  virtual void OnOK();
  virtual void OnCancel();
  // Called once the modal loop has ended, while the (hidden) window still exists.
  virtual void OnEndModal() {}

  // Routes a message through the derived class's map; true when a handler took it.
  virtual bool RouteMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

  template <class D, std::size_t N>
  static bool routeThrough(D& self, const MessageMapEntry<D> (&map)[N], UINT message, WPARAM wParam,
                           LPARAM lParam, LRESULT& result);

  bool UpdateData(bool saveAndValidate);
  void EndDialog(INT_PTR result);
  // Inside a handler: let the dialog manager's default handling have the message too.
  void Default() { defaultRequested = true; }
  bool ending() const { return endRequested; }

 private:
  static INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR handleMessage(UINT message, WPARAM wParam, LPARAM lParam);

  UINT templateResource;
  HWND ownerWindow;
  HWND window = nullptr;
  bool endRequested = false;
  bool defaultRequested = false;
  INT_PTR modalResult = -1;
};

template <class D, std::size_t N>
bool Dialog::routeThrough(D& self, const MessageMapEntry<D> (&map)[N], UINT message, WPARAM wParam,
                          LPARAM lParam, LRESULT& result) {
  for (const MessageMapEntry<D>& entry : map) {
    if (entry.message != message) continue;
    if (message == WM_COMMAND &&
        (entry.code != HIWORD(wParam) || entry.id != static_cast<UINT>(LOWORD(wParam)))) {
      continue;
    }
    result = 0;
    if (auto* plain = std::get_if<void (D::*)()>(&entry.handler)) {
      (self.**plain)();
    } else if (auto* withArgs = std::get_if<void (D::*)(UINT, LPARAM)>(&entry.handler)) {
      (self.**withArgs)(static_cast<UINT>(wParam), lParam);
    } else if (auto* cursor = std::get_if<HCURSOR (D::*)()>(&entry.handler)) {
      result = reinterpret_cast<LRESULT>((self.**cursor)());
    }
    return true;
  }
  return false;
}

// Loads a string resource of this module; empty when there is none.
std::string loadString(UINT id);

}  // namespace skm
