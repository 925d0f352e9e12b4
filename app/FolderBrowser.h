#pragma once

#include <windows.h>

#include <string>

namespace skm {

// The folder to preselect in the browser; BrowseForFolder sets it, BrowseCallback reads it.
extern std::string initialSelection;

// Runs the shell's folder browser. Returns 1 and stores the chosen folder's path in result
// when a folder with a file-system path was chosen; returns 0 otherwise (a cancel also empties
// result). root and selection may be null.
int BrowseForFolder(std::string& result, const char* title, HWND owner, const char* root = nullptr,
                    const char* selection = nullptr);

int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM parameter, LPARAM callerData);

}  // namespace skm
