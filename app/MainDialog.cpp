#include "app/MainDialog.h"

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "app/AboutDialog.h"
#include "app/FolderBrowser.h"
#include "app/resource.h"
#include "convert/ConversionJob.h"
#include "convert/PackagePlan.h"

namespace skm {

const MessageMapEntry<MainDialog> MainDialog::messageMap[6] = {
    {WM_SYSCOMMAND, 0, 0, &MainDialog::OnSysCommand},
    {WM_PAINT, 0, 0, &MainDialog::OnPaint},
    {WM_QUERYDRAGICON, 0, 0, &MainDialog::OnQueryDragIcon},
    {WM_COMMAND, BN_CLICKED, IDC_CONVERT, &MainDialog::OnConvert},
    {WM_COMMAND, BN_CLICKED, IDC_SELECT_FOLDER, &MainDialog::OnSelectFolder},
    {WM_CLOSE, 0, 0, &MainDialog::OnClose},
};

namespace {

void appendBackslash(std::string& folder) {
  if (folder.empty() || folder.back() != '\\') folder += '\\';
}

// Lists folder + "*.skm" in search order, leaving out subfolders and system files. The search
// also matches the short 8.3 alias, so "gesture.skmx" (alias GESTUR~1.SKM) comes back too; only
// long names that end in ".skm" count.
std::vector<std::string> findGestures(const std::string& folder) {
  std::vector<std::string> paths;
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA((folder + "*.skm").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return paths;
  do {
    std::string name = entry.cFileName;
    if (name == "." || name == "..") continue;
    if (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_SYSTEM)) continue;
    if (!isSourceName(name)) continue;
    paths.push_back(folder + name);
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  return paths;
}

// The product browses from the desktop with nothing preselected. The test build lets the Wine
// tests preselect a folder: the file named by SKM2TRN_TEST_BROWSE_FILE holds its path.
const char* testSelection(std::string& storage) {
#ifdef SKM2TRN_TEST_HOOKS
  const char* file = std::getenv("SKM2TRN_TEST_BROWSE_FILE");
  if (file != nullptr) {
    std::ifstream in(file);
    if (std::getline(in, storage) && !storage.empty()) return storage.c_str();
  }
#else
  (void)storage;
#endif
  return nullptr;
}

}  // namespace

MainDialog::MainDialog(HWND parent)
    : Dialog(IDD_MAIN, parent),
      icon(WinApp::current() != nullptr ? WinApp::current()->loadIcon(IDR_MAINFRAME) : nullptr),
      workerDone(CreateEventA(nullptr, TRUE, TRUE, nullptr)) {}

MainDialog::~MainDialog() {
  if (worker.joinable()) {
    stopping = true;
    worker.join();
  }
  if (workerDone != nullptr) CloseHandle(workerDone);
}

void MainDialog::DoDataExchange(DataExchange& dx) {
  Dialog::DoDataExchange(dx);
  ddxControl(dx, IDC_PROGRESS, progressBar);
}

bool MainDialog::RouteMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  return routeThrough(*this, messageMap, message, wParam, lParam, result);
}

BOOL MainDialog::OnInitDialog() {
  Dialog::OnInitDialog();

  HMENU systemMenu = GetSystemMenu(handle(), FALSE);
  if (systemMenu != nullptr) {
    std::string about = loadString(IDS_ABOUTBOX);
    if (!about.empty()) {
      AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
      AppendMenuA(systemMenu, MF_STRING, IDM_ABOUTBOX, about.c_str());
    }
  }

  SendMessageA(handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  SendMessageA(handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
  return TRUE;  // the dialog manager focuses the first tab stop, "Select Folder"
}

void MainDialog::OnSysCommand(UINT id, LPARAM) {
  if ((id & 0xFFF0) == IDM_ABOUTBOX) {
    AboutDialog about(handle());
    about.DoModal();
  } else {
    Default();
  }
}

void MainDialog::OnPaint() {
  if (!IsIconic(handle())) {
    Default();
    return;
  }
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(handle(), &paint);
  SendMessageA(handle(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client;
  GetClientRect(handle(), &client);
  int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
  int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
  DrawIcon(dc, x, y, icon);
  EndPaint(handle(), &paint);
}

HCURSOR MainDialog::OnQueryDragIcon() {
  return static_cast<HCURSOR>(icon);
}

void MainDialog::OnClose() {
  OnOK();
  Default();
}

// Escape and any Cancel command leave the dialog open.
void MainDialog::OnCancel() {}

void MainDialog::OnSelectFolder() {
  if (running() || ending()) return;
  enableControl(IDC_CONVERT, false);
  sourcePathList.clear();

  std::string folder;
  std::string preselect;
  if (!BrowseForFolder(folder, "Select Gesture Folder", handle(), nullptr,
                       testSelection(preselect))) {
    return;
  }
  appendBackslash(folder);
  sourcePathList = findGestures(folder);

  int count = static_cast<int>(sourcePathList.size());
  if (count == 0) {
    SetDlgItemTextA(handle(), IDC_STATUS, "No Gestures Found.");
    return;
  }
  char text[64];
  std::snprintf(text, sizeof text, "%i Gestures Found.", count);
  SetDlgItemTextA(handle(), IDC_STATUS, text);
  progressBar.setRange32(0, count);
  enableControl(IDC_CONVERT, true);
}

void MainDialog::OnConvert() {
  if (running() || ending()) return;
  std::string preselect;
  if (!BrowseForFolder(outputFolderText, "Select a Folder to save converted gestures.", handle(),
                       nullptr, testSelection(preselect))) {
    return;
  }
  // Closed while the browser was open: start nothing.
  if (ending()) return;
  appendBackslash(outputFolderText);
  enableControl(IDC_CONVERT, false);
  enableControl(IDC_SELECT_FOLDER, false);
  startJob();
}

bool MainDialog::running() const {
  return WaitForSingleObject(workerDone, 0) == WAIT_TIMEOUT;
}

void MainDialog::startJob() {
  waitForWorker();  // the previous run has re-enabled the buttons but may not have returned yet
  stopping = false;
  ResetEvent(workerDone);
  try {
    worker = std::thread([this] {
      try {
        ConversionJob(*this);
      } catch (...) {
        // The job guards every file; whatever still escapes must not end the process, and the
        // dialog is handed back to the user.
        if (!stopping) {
          SetDlgItemTextA(handle(), IDC_MESSAGE, "Error: Conversion stopped.");
          enableButton(IDC_CONVERT);
          enableButton(IDC_SELECT_FOLDER);
        }
      }
      SetEvent(workerDone);
    });
  } catch (...) {
    SetEvent(workerDone);
    SetDlgItemTextA(handle(), IDC_MESSAGE, "Error: Conversion stopped.");
    enableControl(IDC_CONVERT, true);
    enableControl(IDC_SELECT_FOLDER, true);
  }
}

void MainDialog::waitForWorker() {
  if (!worker.joinable()) return;
  for (;;) {
    DWORD woke = MsgWaitForMultipleObjects(1, &workerDone, FALSE, INFINITE, QS_SENDMESSAGE);
    if (woke != WAIT_OBJECT_0 + 1) break;
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
  worker.join();
}

// Closing during a run: the window is already hidden; the job stops after its current file
// and its last updates still find the window and the lists alive.
void MainDialog::OnEndModal() {
  stopping = true;
  waitForWorker();
}

void MainDialog::enableControl(int id, bool enable) {
  EnableWindow(GetDlgItem(handle(), id), enable ? TRUE : FALSE);
}

void MainDialog::setProgressPosition(int position) {
  progressBar.setPos(position);
}

void MainDialog::setStatusText(const std::string& text) {
  SendMessageA(GetDlgItem(handle(), IDC_STATUS), WM_SETTEXT, 0,
               reinterpret_cast<LPARAM>(text.c_str()));
}

void MainDialog::setMessageText(const std::string& text) {
  SendMessageA(GetDlgItem(handle(), IDC_MESSAGE), WM_SETTEXT, 0,
               reinterpret_cast<LPARAM>(text.c_str()));
}

void MainDialog::enableButton(int controlId) {
  enableControl(controlId, true);
}

}  // namespace skm
