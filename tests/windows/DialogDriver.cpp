// Drives the converter's dialogs from another process, for the Wine tests. Reads one command per
// line on standard input and answers each with one line of JSON on standard output:
// {"ok":true,"value":...} or {"ok":false,"error":"..."}. Window handles travel as integers.
//
// Commands (timeouts in milliseconds):
//   find TIMEOUT CAPTION        a visible top-level window with exactly this caption
//   owned TIMEOUT OWNER         a visible top-level window owned by OWNER (a browser, the About
//   box) gone TIMEOUT HWND           waits until HWND no longer exists caption HWND the window's
//   caption text HWND ID                the text of control ID (WM_GETTEXT, marshalled across
//   processes) enabled HWND ID             1 or 0 exists HWND                 1 or 0 focus HWND the
//   control id that has the focus in HWND's thread progress HWND ID            [position, lower,
//   upper] of a progress bar controls HWND               [[id, class, text, visible], ...] of every
//   descendant window click HWND ID               posts BM_CLICK to control ID command HWND ID
//   posts WM_COMMAND (ID, BN_CLICKED) to HWND key HWND VK                 posts the key down and up
//   to the focused window of HWND's thread syscommand HWND CODE        posts WM_SYSCOMMAND close
//   HWND                  posts WM_CLOSE setattr PATH ATTRIBUTES     SetFileAttributes, then
//   answers with GetFileAttributes quit
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string quote(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

void reply(const std::string& value) {
  std::cout << "{\"ok\":true,\"value\":" << value << "}" << std::endl;
}

void fail(const std::string& error) {
  std::cout << "{\"ok\":false,\"error\":" << quote(error) << "}" << std::endl;
}

HWND toWindow(const std::string& text) {
  return reinterpret_cast<HWND>(static_cast<INT_PTR>(std::strtoll(text.c_str(), nullptr, 10)));
}

std::string fromWindow(HWND window) {
  return std::to_string(static_cast<long long>(reinterpret_cast<INT_PTR>(window)));
}

template <class Found>
HWND poll(DWORD timeout, Found found) {
  DWORD start = GetTickCount();
  for (;;) {
    if (HWND window = found()) return window;
    if (GetTickCount() - start >= timeout) return nullptr;
    Sleep(50);
  }
}

struct OwnedSearch {
  HWND owner;
  HWND result;
};

BOOL CALLBACK findOwned(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<OwnedSearch*>(parameter);
  char className[64] = {};
  GetClassNameA(window, className, sizeof className);
  if (IsWindowVisible(window) && GetWindow(window, GW_OWNER) == search->owner &&
      std::string(className) == "#32770") {
    search->result = window;
    return FALSE;
  }
  return TRUE;
}

std::string controlText(HWND control) {
  char text[1024] = {};
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(control, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                           SMTO_ABORTIFHUNG, 5000, &length)) {
    return "";
  }
  return std::string(text, length < sizeof text ? length : sizeof text - 1);
}

BOOL CALLBACK listControl(HWND window, LPARAM parameter) {
  auto* entries = reinterpret_cast<std::vector<std::string>*>(parameter);
  char className[256] = {};
  GetClassNameA(window, className, sizeof className);
  std::string entry = "[";
  entry += std::to_string(GetDlgCtrlID(window));
  entry += ",";
  entry += quote(className);
  entry += ",";
  entry += quote(controlText(window));
  entry += IsWindowVisible(window) ? ",true]" : ",false]";
  entries->push_back(entry);
  return TRUE;
}

HWND focusOf(HWND window) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

void run(const std::string& verb, std::istringstream& args) {
  std::string a, b;
  if (verb == "find") {
    DWORD timeout;
    args >> timeout;
    std::getline(args >> std::ws, a);
    HWND found = poll(timeout, [&] {
      HWND window = FindWindowA(nullptr, a.c_str());
      return window != nullptr && IsWindowVisible(window) ? window : nullptr;
    });
    return found ? reply(fromWindow(found)) : fail("timeout");
  }
  if (verb == "owned") {
    DWORD timeout;
    args >> timeout >> a;
    HWND owner = toWindow(a);
    HWND found = poll(timeout, [&] {
      OwnedSearch search{owner, nullptr};
      EnumWindows(findOwned, reinterpret_cast<LPARAM>(&search));
      return search.result;
    });
    return found ? reply(fromWindow(found)) : fail("timeout");
  }
  if (verb == "gone") {
    DWORD timeout;
    args >> timeout >> a;
    HWND window = toWindow(a);
    HWND stillThere = poll(timeout, [&] { return IsWindow(window) ? nullptr : window; });
    return stillThere ? reply("true") : fail("timeout");
  }
  args >> a;
  HWND window = toWindow(a);
  if (verb == "setattr") {
    DWORD attributes;
    args >> attributes;
    if (!SetFileAttributesA(a.c_str(), attributes)) return fail("SetFileAttributes failed");
    return reply(std::to_string(GetFileAttributesA(a.c_str())));
  }
  if (verb == "exists") return reply(IsWindow(window) ? "1" : "0");
  if (verb == "visible") return reply(IsWindow(window) && IsWindowVisible(window) ? "1" : "0");
  if (!IsWindow(window)) return fail("no such window");
  if (verb == "caption") {
    char text[512] = {};
    GetWindowTextA(window, text, sizeof text);
    return reply(quote(text));
  }
  if (verb == "controls") {
    std::vector<std::string> entries;
    EnumChildWindows(window, listControl, reinterpret_cast<LPARAM>(&entries));
    std::string list = "[";
    for (std::size_t i = 0; i < entries.size(); ++i) list += (i ? "," : "") + entries[i];
    return reply(list + "]");
  }
  if (verb == "focus") {
    HWND focus = focusOf(window);
    return focus ? reply(std::to_string(GetDlgCtrlID(focus))) : fail("no focus");
  }
  if (verb == "iconic") return reply(IsIconic(window) ? "1" : "0");
  if (verb == "close") return reply(PostMessageA(window, WM_CLOSE, 0, 0) ? "true" : "false");
  if (verb == "syscommand") {
    std::string c;
    args >> b >> c;
    WPARAM code = std::strtoul(b.c_str(), nullptr, 0);
    LPARAM parameter = static_cast<LPARAM>(std::strtol(c.c_str(), nullptr, 0));
    return reply(PostMessageA(window, WM_SYSCOMMAND, code, parameter) ? "true" : "false");
  }
  if (verb == "key") {
    WPARAM key = std::strtoul((args >> b, b).c_str(), nullptr, 0);
    HWND target = focusOf(window);
    if (target == nullptr) target = window;
    // A scan code in the parameter lets TranslateMessage make the character (menus want it).
    LPARAM scan = static_cast<LPARAM>(MapVirtualKeyA(static_cast<UINT>(key), MAPVK_VK_TO_VSC))
                  << 16;
    PostMessageA(target, WM_KEYDOWN, key, scan | 1);
    PostMessageA(target, WM_KEYUP, key, scan | static_cast<LPARAM>(0xC0000001));
    return reply("true");
  }
  int id = 0;
  args >> id;
  if (verb == "command") {
    HWND control = GetDlgItem(window, id);
    return reply(PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                              reinterpret_cast<LPARAM>(control))
                     ? "true"
                     : "false");
  }
  HWND control = GetDlgItem(window, id);
  if (control == nullptr) return fail("no such control");
  if (verb == "text") return reply(quote(controlText(control)));
  if (verb == "enabled") return reply(IsWindowEnabled(control) ? "1" : "0");
  if (verb == "click") return reply(PostMessageA(control, BM_CLICK, 0, 0) ? "true" : "false");
  if (verb == "progress") {
    LRESULT position = SendMessageA(control, PBM_GETPOS, 0, 0);
    LRESULT lower = SendMessageA(control, PBM_GETRANGE, TRUE, 0);
    LRESULT upper = SendMessageA(control, PBM_GETRANGE, FALSE, 0);
    std::string value = "[";
    value += std::to_string(position);
    value += ",";
    value += std::to_string(lower);
    value += ",";
    value += std::to_string(upper);
    return reply(value + "]");
  }
  fail("unknown command " + verb);
}

}  // namespace

int main() {
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream args(line);
    std::string verb;
    args >> verb;
    if (verb.empty()) continue;
    if (verb == "quit") break;
    run(verb, args);
  }
  return 0;
}
