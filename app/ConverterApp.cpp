#include "app/ConverterApp.h"

#include <commctrl.h>
#include <objbase.h>

#include "app/MainDialog.h"

namespace skm {

namespace {
ConverterApp theApp;
}

BOOL ConverterApp::InitInstance() {
  // The progress bar's window class, and COM for the shell's folder browser.
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

  {
    MainDialog dialog;
    mainDialog = &dialog;
    dialog.DoModal();
    mainDialog = nullptr;
  }

  if (SUCCEEDED(com)) CoUninitialize();
  // No message loop: the application ends with its dialog.
  return FALSE;
}

int ConverterApp::ExitInstance() {
  return WinApp::ExitInstance();
}

}  // namespace skm
