#include "app/Framework.h"

#include <commctrl.h>

namespace skm {

namespace {

WinApp* theApplication = nullptr;

// Dialog-procedure results that are returned directly instead of through DWLP_MSGRESULT.
bool returnsDirectly(UINT message) {
  switch (message) {
    case WM_CHARTOITEM:
    case WM_COMPAREITEM:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_INITDIALOG:
    case WM_QUERYDRAGICON:
    case WM_VKEYTOITEM:
      return true;
    default:
      return false;
  }
}

}  // namespace

WinApp::WinApp() {
  theApplication = this;
}

WinApp::~WinApp() {
  if (theApplication == this) theApplication = nullptr;
}

int WinApp::ExitInstance() {
  return 0;
}

WinApp* WinApp::current() {
  return theApplication;
}

HINSTANCE WinApp::instance() const {
  return GetModuleHandleA(nullptr);
}

HICON WinApp::loadIcon(UINT id) const {
  return LoadIconA(instance(), MAKEINTRESOURCEA(id));
}

std::string loadString(UINT id) {
  char text[256];
  int length = LoadStringA(GetModuleHandleA(nullptr), id, text, sizeof text);
  return length > 0 ? std::string(text, static_cast<std::size_t>(length)) : std::string();
}

void ProgressCtrl::setRange32(int lower, int upper) {
  SendMessageA(window, PBM_SETRANGE32, static_cast<WPARAM>(lower), static_cast<LPARAM>(upper));
}

void ProgressCtrl::setPos(int position) {
  SendMessageA(window, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void ddxControl(DataExchange& dx, int id, ProgressCtrl& control) {
  if (control.window == nullptr) control.window = GetDlgItem(dx.dialog, id);
}

Dialog::Dialog(UINT resourceId, HWND owner) : templateResource(resourceId), ownerWindow(owner) {}

Dialog::~Dialog() {
  if (window != nullptr) DestroyWindow(window);
}

INT_PTR Dialog::DoModal() {
  endRequested = false;
  modalResult = -1;
  HINSTANCE instance = GetModuleHandleA(nullptr);
  HWND created = CreateDialogParamA(instance, MAKEINTRESOURCEA(templateResource), ownerWindow,
                                    dialogProc, reinterpret_cast<LPARAM>(this));
  if (created == nullptr) return -1;
  window = created;

  bool ownerDisabled = ownerWindow != nullptr && IsWindowEnabled(ownerWindow);
  if (ownerDisabled) EnableWindow(ownerWindow, FALSE);
  if (!endRequested) ShowWindow(window, SW_SHOW);

  MSG message;
  while (!endRequested) {
    BOOL got = GetMessageA(&message, nullptr, 0, 0);
    if (got == -1) break;
    if (got == 0) {
      PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    if (!IsDialogMessageA(window, &message)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }

  // Give activation back to the owner before this window disappears, as modal dialogs do.
  if (ownerDisabled) EnableWindow(ownerWindow, TRUE);
  if (ownerWindow != nullptr && GetActiveWindow() == window) SetActiveWindow(ownerWindow);
  SetWindowPos(window, nullptr, 0, 0, 0, 0,
               SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  OnEndModal();
  DestroyWindow(window);
  window = nullptr;
  return modalResult;
}

BOOL Dialog::OnInitDialog() {
  UpdateData(false);
  return TRUE;
}

void Dialog::DoDataExchange(DataExchange&) {}

void Dialog::OnOK() {
  if (!UpdateData(true)) return;
  EndDialog(IDOK);
}

void Dialog::OnCancel() {
  EndDialog(IDCANCEL);
}

bool Dialog::RouteMessage(UINT, WPARAM, LPARAM, LRESULT&) {
  return false;
}

bool Dialog::UpdateData(bool saveAndValidate) {
  DataExchange dx{window, saveAndValidate};
  DoDataExchange(dx);
  return true;
}

void Dialog::EndDialog(INT_PTR result) {
  modalResult = result;
  endRequested = true;
  // Wakes the modal loop if this was called from a sent message while it sleeps.
  if (window != nullptr) PostMessageA(window, WM_NULL, 0, 0);
}

INT_PTR CALLBACK Dialog::dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Dialog* self;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<Dialog*>(lParam);
    SetWindowLongPtrA(window, DWLP_USER, lParam);
    self->window = window;
  } else {
    self = reinterpret_cast<Dialog*>(GetWindowLongPtrA(window, DWLP_USER));
  }
  if (self == nullptr) return FALSE;
  return self->handleMessage(message, wParam, lParam);
}

INT_PTR Dialog::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) return OnInitDialog();

  // Handlers may run nested message loops, so the flag is saved around each dispatch.
  bool outerDefault = defaultRequested;
  defaultRequested = false;
  LRESULT result = 0;
  bool handled = RouteMessage(message, wParam, lParam, result);
  bool wantsDefault = defaultRequested;
  defaultRequested = outerDefault;
  if (handled) {
    if (wantsDefault) return FALSE;
    if (returnsDirectly(message)) return static_cast<INT_PTR>(result);
    SetWindowLongPtrA(window, DWLP_MSGRESULT, result);
    return TRUE;
  }

  if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
    if (LOWORD(wParam) == IDOK) {
      OnOK();
      return TRUE;
    }
    if (LOWORD(wParam) == IDCANCEL) {
      OnCancel();
      return TRUE;
    }
  }
  return FALSE;
}

}  // namespace skm

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  skm::WinApp* app = skm::WinApp::current();
  if (app == nullptr) return 1;
  if (app->InitInstance()) {
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
  return app->ExitInstance();
}
