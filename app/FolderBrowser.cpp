#include "app/FolderBrowser.h"

#include <shlobj.h>

#include <cstring>

namespace skm {

std::string initialSelection;

namespace {

void copyText(char (&buffer)[MAX_PATH], const std::string& text) {
  std::size_t length = text.size() < MAX_PATH - 1 ? text.size() : MAX_PATH - 1;
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
}

void freeItemList(LPITEMIDLIST list) {
  IMalloc* allocator = nullptr;
  if (list != nullptr && SUCCEEDED(SHGetMalloc(&allocator)) && allocator != nullptr) {
    allocator->Free(list);
    allocator->Release();
  }
}

LPITEMIDLIST parseRoot(const char* root) {
  char path[MAX_PATH];
  copyText(path, root);
  IShellFolder* desktop = nullptr;
  if (FAILED(SHGetDesktopFolder(&desktop)) || desktop == nullptr) return nullptr;
  LPITEMIDLIST list = nullptr;
  wchar_t widePath[MAX_PATH];
  if (MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, path, -1, widePath, MAX_PATH) > 0) {
    ULONG eaten = 0;
    if (FAILED(desktop->ParseDisplayName(nullptr, nullptr, widePath, &eaten, &list, nullptr))) {
      list = nullptr;
    }
  }
  desktop->Release();
  return list;
}

}  // namespace

int BrowseForFolder(std::string& result, const char* title, HWND owner, const char* root,
                    const char* selection) {
  LPITEMIDLIST rootList = root != nullptr ? parseRoot(root) : nullptr;

  char displayName[MAX_PATH] = {};
  BROWSEINFOA info = {};
  info.hwndOwner = owner;
  info.pidlRoot = rootList;
  info.pszDisplayName = displayName;
  info.lpszTitle = title;
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT;
  info.lpfn = BrowseCallback;
  info.lParam = 0;
  if (selection != nullptr) {
    initialSelection = selection;
    info.lParam = 1;
  }
  info.iImage = 0;

  LPITEMIDLIST chosen = SHBrowseForFolderA(&info);
  freeItemList(rootList);
  if (chosen == nullptr) {
    result.clear();
    return 0;
  }
  char path[MAX_PATH] = {};
  BOOL converted = SHGetPathFromIDListA(chosen, path);
  freeItemList(chosen);
  if (!converted) return 0;
  result = path;
  return 1;
}

int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM parameter, LPARAM callerData) {
  char path[MAX_PATH];
  if (message == BFFM_INITIALIZED && callerData != 0) {
    copyText(path, initialSelection);
    SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(path));
  } else if (message == BFFM_SELCHANGED) {
    if (SHGetPathFromIDListA(reinterpret_cast<LPCITEMIDLIST>(parameter), path)) {
      SendMessageA(browser, BFFM_SETSTATUSTEXTA, 0, reinterpret_cast<LPARAM>(path));
    }
  }
  return 0;
}

}  // namespace skm
