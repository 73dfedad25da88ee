// usermgr-auto: runs a plain-text scenario against the program from outside,
// as a user would, and reports the first step that does not hold.
//
//   usermgr-auto [-D NAME=VALUE]... SCRIPT
//
// One step per line; "#" starts a comment line. Words are separated by
// blanks; "double quotes" keep blanks and \" \\ inside. ${NAME} is replaced by
// a -D definition or else the environment. Paths beginning with "/" are the
// Wine drive Z:. Controls are named as in the window definitions and belong
// to the current window (the last "window" step). Every wait is limited by
// "timeout" (seconds, default 15). Exit code 0 when every step held, 1 when
// one failed, 2 for a script that cannot be read.
//
// Steps:
//   timeout SECONDS          set NAME VALUE                sleep MS
//   winpath NAME PATH        (NAME becomes PATH as Windows writes it)
//   cwd DIR                  start PROGRAM [ARG...]        wait-exit CODE
//   window TITLE             no-window TITLE               close
//   message TEXT ICON BUTTONS [PRESS] [caption=TEXT]
//                            (ICON error|information|question|warning|none;
//                             BUTTONS ok|yesno|...; PRESS defaults to ok/yes)
//   no-message               expect-title TITLE            expect-size W H
//   expect-geometry CONTROL X Y W H      (client-area position and size)
//   expect-text CONTROL TEXT             set-text CONTROL TEXT
//   expect-password CONTROL              expect-items CONTROL ITEM...
//   select CONTROL INDEX                 expect-index CONTROL INDEX|negative
//   set-date CONTROL YYYY-MM-DD          expect-date CONTROL YYYY-MM-DD|today
//   check CONTROL on|off                 expect-check CONTROL on|off
//   click CONTROL            key CONTROL enter|tab|escape  expect-focus CONTROL
//   type CONTROL TEXT        (the characters as typed on the keyboard)
//   select-row LIST ROW      expect-rows LIST N            expect-cell LIST ROW COL TEXT
//   expect-columns LIST CAPTION WIDTH [CAPTION WIDTH]...
//   file-dialog PATH         screenshot FILE.png
//   registry-set KEY VALUE TEXT          registry-delete KEY      (HKEY_CURRENT_USER)
//   mkdir DIR                copy FROM TO                  remove PATH
//   clean DIR                (the folder and everything in it)
#ifdef _WIN32
#include <windows.h>
#include <commctrl.h>
#include <objidl.h>
#include <gdiplus.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tools/auto/capture.h"
#include "tools/auto/target.h"
#include "vorta/text_codec.h"

namespace autodrv {

namespace {

std::wstring W(const std::string& utf8) {
  std::u16string u = text::Utf8ToUtf16(utf8);
  return std::wstring(u.begin(), u.end());
}

std::string U(const std::wstring& w) { return text::Utf16ToUtf8(std::u16string(w.begin(), w.end())); }

// "/work/x" is Z:\work\x under Wine; other paths pass unchanged.
std::wstring WinPath(const std::string& path) {
  std::wstring w = W(path);
  if (!w.empty() && w[0] == L'/') w = L"Z:" + w;
  for (wchar_t& c : w)
    if (c == L'/') c = L'\\';
  // Long paths only work in their extended form.
  if (w.size() >= MAX_PATH && w.size() > 2 && w[1] == L':') w = L"\\\\?\\" + w;
  return w;
}

struct Failure {
  std::string what;
};

class Runner {
 public:
  explicit Runner(std::map<std::string, std::string> vars) : vars_(std::move(vars)) {}
  int Run(const std::string& script_path);

 private:
  void Step(const std::vector<std::string>& a);
  void Do(const std::vector<std::string>& a);
  [[noreturn]] void Fail(const std::string& what) { throw Failure{what}; }
  void Need(const std::vector<std::string>& a, size_t n, const char* usage) {
    if (a.size() < n) Fail(std::string("usage: ") + usage);
  }
  DWORD LimitMs() const { return static_cast<DWORD>(timeout_s_ * 1000); }

  // Fails when a message box stands on screen that no step expects.
  void CheckNoMessage();
  HWND CurrentWindow();
  HWND Control(const std::string& name, const rt::ControlDef** def = nullptr);
  LRESULT Send(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  std::string Describe();  // what is on screen, for failure reports
  int ListRowCount(HWND list);
  std::wstring ListCell(HWND list, int row, int col);
  bool ReadDate(HWND box, SYSTEMTIME* st);

  std::map<std::string, std::string> vars_;
  double timeout_s_ = 15;
  std::wstring cwd_;
  Target target_;
  HWND window_ = nullptr;
  const rt::WindowDef* window_def_ = nullptr;
  std::string window_title_;
};

std::vector<std::string> Split(const std::string& line, std::string* error) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    if (i >= line.size()) break;
    std::string word;
    if (line[i] == '"') {
      ++i;
      bool closed = false;
      while (i < line.size()) {
        char c = line[i++];
        if (c == '\\' && i < line.size() && (line[i] == '"' || line[i] == '\\')) {
          word += line[i++];
        } else if (c == '"') {
          closed = true;
          break;
        } else {
          word += c;
        }
      }
      if (!closed) {
        *error = "unclosed quote";
        return {};
      }
    } else {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') word += line[i++];
    }
    out.push_back(word);
  }
  return out;
}

std::string Expand(const std::string& s, const std::map<std::string, std::string>& vars, std::string* error) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '$' && i + 1 < s.size() && s[i + 1] == '{') {
      size_t end = s.find('}', i);
      if (end == std::string::npos) {
        *error = "unclosed ${";
        return out;
      }
      std::string name = s.substr(i + 2, end - i - 2);
      auto it = vars.find(name);
      if (it != vars.end()) {
        out += it->second;
      } else if (const char* env = std::getenv(name.c_str())) {
        out += env;
      } else {
        *error = "undefined variable " + name;
        return out;
      }
      i = end;
    } else {
      out += s[i];
    }
  }
  return out;
}

int Run(const std::string& script, std::map<std::string, std::string> vars) {
  Runner r(std::move(vars));
  return r.Run(script);
}

int Runner::Run(const std::string& script_path) {
  std::string content;
  {
    HANDLE f = CreateFileW(WinPath(script_path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (f == INVALID_HANDLE_VALUE) {
      std::printf("cannot read the script %s\n", script_path.c_str());
      return 2;
    }
    char buf[65536];
    DWORD n = 0;
    while (::ReadFile(f, buf, sizeof(buf), &n, nullptr) && n > 0) content.append(buf, n);
    CloseHandle(f);
  }
  std::istringstream in(content);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    std::string error;
    std::string expanded = Expand(line, vars_, &error);
    std::vector<std::string> words = error.empty() ? Split(expanded, &error) : std::vector<std::string>();
    if (!error.empty()) {
      std::printf("%s:%d: %s\n", script_path.c_str(), number, error.c_str());
      return 2;
    }
    if (words.empty()) continue;
    std::printf("[%d] %s\n", number, expanded.c_str() + expanded.find_first_not_of(" \t"));
    std::fflush(stdout);
    try {
      Step(words);
    } catch (const Failure& f) {
      std::printf("FAILED at %s:%d: %s\n", script_path.c_str(), number, f.what.c_str());
      std::printf("%s", Describe().c_str());
      std::fflush(stdout);
      target_.Kill();
      return 1;
    }
  }
  std::printf("all steps held\n");
  std::fflush(stdout);
  target_.Kill();
  return 0;
}

std::string Runner::Describe() {
  std::string out;
  if (!target_.started()) return "on screen: no program started\n";
  if (!target_.running()) {
    DWORD code = 0;
    target_.WaitExit(0, &code);
    return "on screen: the program has ended with exit code " + std::to_string(static_cast<int>(code)) + "\n";
  }
  out += "on screen:\n";
  for (HWND h : target_.TopLevelWindows()) {
    out += "  window \"" + U(WindowText(h)) + "\" (" + U(ClassName(h)) + ")\n";
  }
  MessageBoxInfo box;
  if (target_.FindMessageBox(&box))
    out += "  message box: \"" + U(box.text) + "\" icon " + box.icon + ", buttons " + box.buttons +
           ", caption \"" + U(box.caption) + "\"\n";
  return out;
}

void Runner::CheckNoMessage() {
  MessageBoxInfo box;
  if (target_.running() && target_.FindMessageBox(&box))
    Fail("unexpected message box \"" + U(box.text) + "\" (icon " + box.icon + ", buttons " + box.buttons + ")");
}

HWND Runner::CurrentWindow() {
  if (window_ == nullptr || !IsWindow(window_)) Fail("no current window (use \"window TITLE\" first)");
  return window_;
}

HWND Runner::Control(const std::string& name, const rt::ControlDef** def) {
  HWND top = CurrentWindow();
  const rt::ControlDef* d = nullptr;
  int id = ControlId(*window_def_, text::Utf8ToGb18030(name), &d);
  if (id == 0) Fail("window \"" + window_title_ + "\" defines no control " + name);
  HWND c = GetDlgItem(top, id);
  if (c == nullptr) Fail("control " + name + " is not on the window");
  if (def != nullptr) *def = d;
  return c;
}

LRESULT Runner::Send(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(hwnd, msg, wp, lp, SMTO_NORMAL, LimitMs(), &result))
    Fail("the program does not answer (message " + std::to_string(msg) + ")");
  return static_cast<LRESULT>(result);
}

int Runner::ListRowCount(HWND list) { return static_cast<int>(Send(list, LVM_GETITEMCOUNT, 0, 0)); }

std::wstring Runner::ListCell(HWND list, int row, int col) {
  // The list view reads into the program's own memory.
  const size_t chars = 1024;
  char* remote = static_cast<char*>(target_.Alloc(sizeof(LVITEMW) + chars * sizeof(wchar_t)));
  if (remote == nullptr) Fail("cannot reach the program's memory");
  LVITEMW item = {};
  item.iSubItem = col;
  item.cchTextMax = static_cast<int>(chars);
  item.pszText = reinterpret_cast<LPWSTR>(remote + sizeof(LVITEMW));
  target_.Write(remote, &item, sizeof(item));
  LRESULT n = Send(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote));
  std::wstring text(chars, L'\0');
  target_.Read(remote + sizeof(LVITEMW), text.data(), chars * sizeof(wchar_t));
  text.resize(n > 0 && static_cast<size_t>(n) < chars ? static_cast<size_t>(n) : 0);
  return text;
}

bool Runner::ReadDate(HWND box, SYSTEMTIME* st) {
  void* remote = target_.Alloc(sizeof(SYSTEMTIME));
  if (remote == nullptr) Fail("cannot reach the program's memory");
  LRESULT r = Send(box, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(remote));
  if (r != GDT_VALID) return false;
  return target_.Read(remote, st, sizeof(*st));
}

bool ParseDate(const std::string& s, SYSTEMTIME* st) {
  *st = {};
  if (s == "today") {
    GetLocalTime(st);
    st->wHour = st->wMinute = st->wSecond = st->wMilliseconds = 0;
    st->wDayOfWeek = 0;
    return true;
  }
  int y = 0, m = 0, d = 0;
  if (std::sscanf(s.c_str(), "%d-%d-%d", &y, &m, &d) != 3) return false;
  st->wYear = static_cast<WORD>(y);
  st->wMonth = static_cast<WORD>(m);
  st->wDay = static_cast<WORD>(d);
  return true;
}

std::string FormatDate(const SYSTEMTIME& st) {
  char buf[64];
  std::snprintf(buf, sizeof(buf), "%04d-%02d-%02d %02d:%02d:%02d", st.wYear, st.wMonth, st.wDay, st.wHour,
                st.wMinute, st.wSecond);
  return buf;
}

void RemoveTree(const std::wstring& dir) {
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = fd.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring path = dir + L"\\" + name;
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(path);
      else
        DeleteFileW(path.c_str());
    } while (FindNextFileW(h, &fd));
    FindClose(h);
  }
  RemoveDirectoryW(dir.c_str());
}

int ParseInt(const std::string& s) { return static_cast<int>(std::strtol(s.c_str(), nullptr, 10)); }

// A check ("expect-...") holds once it holds: the program may still be
// working on the last step, so it is tried again until the time limit.
void Runner::Step(const std::vector<std::string>& a) {
  if (a[0].rfind("expect-", 0) != 0) {
    Do(a);
    return;
  }
  DWORD start = GetTickCount();
  for (;;) {
    try {
      Do(a);
      return;
    } catch (const Failure& f) {
      MessageBoxInfo box;
      bool message_up = target_.running() && target_.FindMessageBox(&box);
      if (message_up || GetTickCount() - start > LimitMs()) throw;
      Sleep(100);
    }
  }
}

void Runner::Do(const std::vector<std::string>& a) {
  const std::string& cmd = a[0];
  auto until = [&](auto condition) {
    DWORD start = GetTickCount();
    while (!condition()) {
      if (GetTickCount() - start > LimitMs()) return false;
      Sleep(50);
    }
    return true;
  };

  if (cmd == "timeout") {
    Need(a, 2, "timeout SECONDS");
    timeout_s_ = std::strtod(a[1].c_str(), nullptr);
  } else if (cmd == "set") {
    Need(a, 3, "set NAME VALUE");
    vars_[a[1]] = a[2];
  } else if (cmd == "winpath") {
    Need(a, 3, "winpath NAME PATH");
    vars_[a[1]] = U(WinPath(a[2]));
  } else if (cmd == "sleep") {
    Need(a, 2, "sleep MS");
    Sleep(static_cast<DWORD>(ParseInt(a[1])));
  } else if (cmd == "cwd") {
    Need(a, 2, "cwd DIR");
    cwd_ = WinPath(a[1]);
  } else if (cmd == "start") {
    Need(a, 2, "start PROGRAM [ARG...]");
    std::wstring args;
    for (size_t i = 2; i < a.size(); ++i) args += (i > 2 ? L" " : L"") + (L"\"" + W(a[i]) + L"\"");
    std::string error;
    if (!target_.Start(WinPath(a[1]), args, cwd_, &error)) Fail(error);
    window_ = nullptr;
  } else if (cmd == "wait-exit") {
    Need(a, 2, "wait-exit CODE");
    DWORD code = 0;
    bool ended = until([&] {
      CheckNoMessage();
      return target_.WaitExit(0, &code);
    });
    if (!ended) Fail("the program did not end within the time limit");
    if (static_cast<int>(code) != ParseInt(a[1]))
      Fail("exit code " + std::to_string(static_cast<int>(code)) + ", expected " + a[1]);
  } else if (cmd == "window") {
    Need(a, 2, "window TITLE");
    std::wstring title = W(a[1]);
    HWND found = nullptr;
    bool ok = until([&] {
      CheckNoMessage();
      found = target_.FindWindowByTitle(title);
      if (found == nullptr && !target_.running()) Fail("the program ended before the window \"" + a[1] + "\" showed");
      return found != nullptr;
    });
    if (!ok) Fail("no window \"" + a[1] + "\" within the time limit");
    window_ = found;
    window_title_ = a[1];
    window_def_ = DefinitionFor(title);
    if (window_def_ == nullptr) Fail("no window definition has the title \"" + a[1] + "\"");
  } else if (cmd == "no-window") {
    Need(a, 2, "no-window TITLE");
    if (target_.FindWindowByTitle(W(a[1])) != nullptr) Fail("the window \"" + a[1] + "\" is open");
  } else if (cmd == "close") {
    PostMessageW(CurrentWindow(), WM_CLOSE, 0, 0);
  } else if (cmd == "message") {
    Need(a, 4, "message TEXT ICON BUTTONS [PRESS]");
    MessageBoxInfo box;
    bool ok = until([&] {
      if (target_.FindMessageBox(&box)) return true;
      if (!target_.running()) Fail("the program ended before a message box showed");
      return false;
    });
    if (!ok) Fail("no message box within the time limit");
    // A box just opened may not have painted its icon yet.
    for (int i = 0; i < 40 && box.icon == "unknown"; ++i) {
      Sleep(50);
      target_.FindMessageBox(&box);
    }
    if (box.text != W(a[1]) || box.icon != a[2] || box.buttons != a[3])
      Fail("message box \"" + U(box.text) + "\" icon " + box.icon + ", buttons " + box.buttons +
           "; expected \"" + a[1] + "\" icon " + a[2] + ", buttons " + a[3]);
    std::string press = a[3].rfind("yes", 0) == 0 ? "yes" : "ok";
    for (size_t i = 4; i < a.size(); ++i) {
      if (a[i].rfind("caption=", 0) == 0) {
        if (box.caption != W(a[i].substr(8))) Fail("the message box has the caption \"" + U(box.caption) + "\"");
      } else {
        press = a[i];
      }
    }
    int id = press == "ok" ? IDOK : press == "cancel" ? IDCANCEL : press == "yes" ? IDYES : press == "no" ? IDNO : 0;
    HWND button = id != 0 ? GetDlgItem(box.hwnd, id) : nullptr;
    if (button == nullptr) Fail("the message box has no button " + press);
    PostMessageW(button, BM_CLICK, 0, 0);
    if (!until([&] { return !IsWindow(box.hwnd) || !IsWindowVisible(box.hwnd); }))
      Fail("the message box stayed open after pressing " + press);
  } else if (cmd == "no-message") {
    CheckNoMessage();
  } else if (cmd == "expect-title") {
    Need(a, 2, "expect-title TITLE");
    std::wstring t = WindowText(CurrentWindow());
    if (t != W(a[1])) Fail("title \"" + U(t) + "\"");
  } else if (cmd == "expect-size") {
    Need(a, 3, "expect-size W H");
    RECT rc;
    GetWindowRect(CurrentWindow(), &rc);
    int w = rc.right - rc.left, h = rc.bottom - rc.top;
    if (w != ParseInt(a[1]) || h != ParseInt(a[2]))
      Fail("outer size " + std::to_string(w) + " x " + std::to_string(h));
  } else if (cmd == "screenshot") {
    Need(a, 2, "screenshot FILE");
    // Let the program paint what it shows now, windows just closed included.
    HWND w = CurrentWindow();
    SetForegroundWindow(w);
    RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
    Send(w, WM_NULL, 0, 0);
    Sleep(300);
    Send(w, WM_NULL, 0, 0);
    std::string error;
    if (!SaveWindowPng(w, WinPath(a[1]), &error)) Fail("screenshot: " + error);
  } else if (cmd == "registry-set") {
    Need(a, 4, "registry-set KEY VALUE TEXT");
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, W(a[1]).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
      Fail("cannot create the registry key");
    std::wstring data = a[3].size() > 0 && a[3][0] == '/' ? WinPath(a[3]) : W(a[3]);
    LONG rc = RegSetValueExW(key, W(a[2]).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                             static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) Fail("cannot write the registry value");
  } else if (cmd == "registry-delete") {
    Need(a, 2, "registry-delete KEY");
    LONG rc = RegDeleteTreeW(HKEY_CURRENT_USER, W(a[1]).c_str());
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND && rc != ERROR_PATH_NOT_FOUND)
      Fail("cannot delete the registry key");
  } else if (cmd == "mkdir") {
    Need(a, 2, "mkdir DIR");
    std::wstring path = WinPath(a[1]);
    for (size_t i = 3; i <= path.size(); ++i)
      if (i == path.size() || path[i] == L'\\') CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
    DWORD attr = GetFileAttributesW(path.c_str());
    if (attr == INVALID_FILE_ATTRIBUTES || !(attr & FILE_ATTRIBUTE_DIRECTORY)) Fail("cannot make the folder");
  } else if (cmd == "clean") {
    Need(a, 2, "clean DIR");
    std::wstring path = WinPath(a[1]);
    if (path.size() < 8) Fail("refusing to clean a short path");
    RemoveTree(path);
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) Fail("cannot clean the folder");
  } else if (cmd == "copy") {
    Need(a, 3, "copy FROM TO");
    if (!CopyFileW(WinPath(a[1]).c_str(), WinPath(a[2]).c_str(), FALSE))
      Fail("cannot copy (error " + std::to_string(GetLastError()) + ")");
  } else if (cmd == "remove") {
    Need(a, 2, "remove PATH");
    DeleteFileW(WinPath(a[1]).c_str());
    if (GetFileAttributesW(WinPath(a[1]).c_str()) != INVALID_FILE_ATTRIBUTES) Fail("cannot remove it");
  } else if (cmd == "file-dialog") {
    Need(a, 2, "file-dialog PATH");
    HWND dialog = nullptr;
    if (!until([&] { return (dialog = target_.FindFileDialog()) != nullptr; }))
      Fail("no file dialog within the time limit");
    // The dialog may still be filling its folder view: wait until it answers.
    if (!until([&] {
          DWORD_PTR r = 0;
          return SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &r) != 0;
        }))
      Fail("the file dialog does not answer");
    HWND name = GetDlgItem(dialog, 0x47C);
    if (name != nullptr && ClassName(name).find(L"ComboBox") != std::wstring::npos) {
      HWND edit = FindWindowExW(name, nullptr, L"Edit", nullptr);
      if (edit != nullptr) name = edit;
    }
    if (name == nullptr) name = GetDlgItem(dialog, 0x480);
    std::wstring path = WinPath(a[1]);
    Send(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
    if (!until([&] { return !IsWindow(dialog); })) Fail("the file dialog stayed open");
  } else {
    // Everything below works on a control of the current window.
    CheckNoMessage();
    Need(a, 2, "STEP CONTROL ...");
    const rt::ControlDef* def = nullptr;
    HWND c = Control(a[1], &def);
    if (cmd == "expect-geometry") {
      Need(a, 6, "expect-geometry CONTROL X Y W H");
      RECT rc;
      GetWindowRect(c, &rc);
      MapWindowPoints(nullptr, CurrentWindow(), reinterpret_cast<POINT*>(&rc), 2);
      int x = rc.left, y = rc.top, w = rc.right - rc.left, h = rc.bottom - rc.top;
      if (x != ParseInt(a[2]) || y != ParseInt(a[3]) || w != ParseInt(a[4]) || h != ParseInt(a[5]))
        Fail(a[1] + " stands at " + std::to_string(x) + ", " + std::to_string(y) + " size " + std::to_string(w) +
             " x " + std::to_string(h));
    } else if (cmd == "expect-text") {
      Need(a, 3, "expect-text CONTROL TEXT");
      std::wstring t = WindowText(c);
      if (t != W(a[2])) Fail(a[1] + " shows \"" + U(t) + "\"");
    } else if (cmd == "set-text") {
      Need(a, 3, "set-text CONTROL TEXT");
      std::wstring t = W(a[2]);
      Send(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(t.c_str()));
    } else if (cmd == "expect-password") {
      LRESULT ch = Send(c, EM_GETPASSWORDCHAR, 0, 0);
      if (ch != L'*' || !(GetWindowLongW(c, GWL_STYLE) & ES_PASSWORD))
        Fail(a[1] + " does not mask its text with '*' (password char " + std::to_string(ch) + ")");
    } else if (cmd == "expect-items") {
      int n = static_cast<int>(Send(c, CB_GETCOUNT, 0, 0));
      std::vector<std::string> items;
      for (int i = 0; i < n; ++i) {
        wchar_t buf[512] = {};
        LRESULT len = Send(c, CB_GETLBTEXTLEN, i, 0);
        if (len >= 0 && len < 512) Send(c, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(buf));
        items.push_back(U(buf));
      }
      std::vector<std::string> want(a.begin() + 2, a.end());
      if (items != want) {
        std::string got;
        for (auto& s : items) got += " \"" + s + "\"";
        Fail(a[1] + " lists" + (got.empty() ? std::string(" nothing") : got));
      }
    } else if (cmd == "select") {
      Need(a, 3, "select CONTROL INDEX");
      Send(c, CB_SETCURSEL, static_cast<WPARAM>(ParseInt(a[2])), 0);
    } else if (cmd == "expect-index") {
      Need(a, 3, "expect-index CONTROL INDEX|negative");
      LRESULT i = def->kind == rt::ControlKind::ListView
                      ? Send(c, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED)
                      : Send(c, CB_GETCURSEL, 0, 0);
      bool ok = a[2] == "negative" ? i < 0 : i == ParseInt(a[2]);
      if (!ok) Fail(a[1] + " has index " + std::to_string(static_cast<long long>(i)));
    } else if (cmd == "set-date") {
      Need(a, 3, "set-date CONTROL YYYY-MM-DD");
      SYSTEMTIME st;
      if (!ParseDate(a[2], &st)) Fail("not a date: " + a[2]);
      void* remote = target_.Alloc(sizeof(st));
      if (remote == nullptr || !target_.Write(remote, &st, sizeof(st))) Fail("cannot reach the program's memory");
      if (!Send(c, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(remote))) Fail("the date box refused " + a[2]);
    } else if (cmd == "expect-date") {
      Need(a, 3, "expect-date CONTROL YYYY-MM-DD|today");
      SYSTEMTIME want, got = {};
      if (!ParseDate(a[2], &want)) Fail("not a date: " + a[2]);
      if (!ReadDate(c, &got)) Fail(a[1] + " holds no date");
      if (got.wYear != want.wYear || got.wMonth != want.wMonth || got.wDay != want.wDay)
        Fail(a[1] + " holds " + FormatDate(got));
    } else if (cmd == "check") {
      Need(a, 3, "check CONTROL on|off");
      Send(c, BM_SETCHECK, a[2] == "on" ? BST_CHECKED : BST_UNCHECKED, 0);
    } else if (cmd == "expect-check") {
      Need(a, 3, "expect-check CONTROL on|off");
      bool on = Send(c, BM_GETCHECK, 0, 0) == BST_CHECKED;
      if (on != (a[2] == "on")) Fail(a[1] + std::string(on ? " is ticked" : " is not ticked"));
    } else if (cmd == "click") {
      // Posted: the handler may open a message box or a modal window.
      PostMessageW(c, BM_CLICK, 0, 0);
      Sleep(100);
    } else if (cmd == "key") {
      Need(a, 3, "key CONTROL enter|tab|escape");
      WPARAM vk = a[2] == "enter" ? VK_RETURN : a[2] == "tab" ? VK_TAB : a[2] == "escape" ? VK_ESCAPE : 0;
      if (vk == 0) Fail("unknown key " + a[2]);
      PostMessageW(c, WM_KEYDOWN, vk, 1);
      PostMessageW(c, WM_KEYUP, vk, 1 | (3u << 30));
      Sleep(100);
    } else if (cmd == "type") {
      Need(a, 3, "type CONTROL TEXT");
      for (wchar_t ch : W(a[2])) PostMessageW(c, WM_CHAR, ch, 1);
      Sleep(100);
    } else if (cmd == "expect-focus") {
      DWORD thread = GetWindowThreadProcessId(c, nullptr);
      GUITHREADINFO gi = {};
      gi.cbSize = sizeof(gi);
      GetGUIThreadInfo(thread, &gi);
      if (gi.hwndFocus != c && GetParent(gi.hwndFocus) != c)
        Fail("the focus is on \"" + U(WindowText(gi.hwndFocus)) + "\" (" + U(ClassName(gi.hwndFocus)) + ")");
    } else if (cmd == "select-row") {
      Need(a, 3, "select-row LIST ROW");
      int row = ParseInt(a[2]);
      if (row < 0 || row >= ListRowCount(c)) Fail(a[1] + " has no row " + a[2]);
      LVITEMW item = {};
      item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
      item.state = LVIS_SELECTED | LVIS_FOCUSED;
      void* remote = target_.Alloc(sizeof(item));
      if (remote == nullptr || !target_.Write(remote, &item, sizeof(item))) Fail("cannot reach the program's memory");
      // Posted: the row-changed handler may open a message box.
      PostMessageW(c, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote));
      Sleep(100);
    } else if (cmd == "expect-rows") {
      Need(a, 3, "expect-rows LIST N");
      int n = ListRowCount(c);
      if (n != ParseInt(a[2])) Fail(a[1] + " has " + std::to_string(n) + " rows");
    } else if (cmd == "expect-cell") {
      Need(a, 5, "expect-cell LIST ROW COL TEXT");
      int row = ParseInt(a[2]);
      if (row < 0 || row >= ListRowCount(c)) Fail(a[1] + " has no row " + a[2]);
      std::wstring t = ListCell(c, row, ParseInt(a[3]));
      if (t != W(a[4])) Fail("cell " + a[2] + ", " + a[3] + " of " + a[1] + " is \"" + U(t) + "\"");
    } else if (cmd == "expect-columns") {
      HWND header = reinterpret_cast<HWND>(Send(c, LVM_GETHEADER, 0, 0));
      int n = header != nullptr ? static_cast<int>(Send(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
      std::string got;
      char* remote = static_cast<char*>(target_.Alloc(sizeof(LVCOLUMNW) + 512 * sizeof(wchar_t)));
      if (remote == nullptr) Fail("cannot reach the program's memory");
      for (int i = 0; i < n; ++i) {
        LVCOLUMNW col = {};
        col.mask = LVCF_TEXT | LVCF_WIDTH;
        col.pszText = reinterpret_cast<LPWSTR>(remote + sizeof(LVCOLUMNW));
        col.cchTextMax = 512;
        target_.Write(remote, &col, sizeof(col));
        Send(c, LVM_GETCOLUMNW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(remote));
        wchar_t buf[512] = {};
        target_.Read(remote, &col, sizeof(col));
        target_.Read(remote + sizeof(LVCOLUMNW), buf, sizeof(buf) - sizeof(wchar_t));
        got += (i > 0 ? " " : "") + U(buf) + " " + std::to_string(col.cx);
      }
      std::string want;
      for (size_t i = 2; i < a.size(); ++i) want += (i > 2 ? " " : "") + a[i];
      if (got != want) Fail(a[1] + " has the columns: " + got);
    } else {
      Fail("unknown step " + cmd);
    }
  }
}

}  // namespace

}  // namespace autodrv

int wmain(int argc, wchar_t** argv) {
  std::map<std::string, std::string> vars;
  std::string script;
  for (int i = 1; i < argc; ++i) {
    std::string arg = autodrv::U(argv[i]);
    if (arg == "-D" && i + 1 < argc) {
      std::string def = autodrv::U(argv[++i]);
      size_t eq = def.find('=');
      if (eq != std::string::npos) vars[def.substr(0, eq)] = def.substr(eq + 1);
    } else {
      script = arg;
    }
  }
  if (script.empty()) {
    std::printf("usage: usermgr-auto [-D NAME=VALUE]... SCRIPT\n");
    return 2;
  }
  Gdiplus::GdiplusStartupInput gdiplus_input;
  ULONG_PTR token = 0;
  Gdiplus::GdiplusStartup(&token, &gdiplus_input, nullptr);
  int rc = autodrv::Run(script, std::move(vars));
  Gdiplus::GdiplusShutdown(token);
  return rc;
}
#endif
