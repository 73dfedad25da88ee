// The program under test, seen from outside: its process, its top-level
// windows and message boxes, and its controls found by window and name.
#pragma once

#ifdef _WIN32
#include <windows.h>

#include <string>
#include <vector>

#include "runtime/windef.h"

namespace autodrv {

// What a message box shows.
struct MessageBoxInfo {
  HWND hwnd = nullptr;
  std::wstring text;
  std::wstring caption;
  std::string icon;     // "error", "information", "question", "warning" or "none"
  std::string buttons;  // "ok", "okcancel", "yesno", "yesnocancel", ...
};

class Target {
 public:
  ~Target();

  bool Start(const std::wstring& program, const std::wstring& args, const std::wstring& cwd,
             std::string* error);
  bool running() const;
  bool started() const { return process_ != nullptr; }
  // Waits for the end; false on timeout.
  bool WaitExit(DWORD timeout_ms, DWORD* exit_code);
  void Kill();

  // Visible top-level windows of the process (message boxes and dialogs too).
  std::vector<HWND> TopLevelWindows() const;
  HWND FindWindowByTitle(const std::wstring& title) const;
  // The first message box on screen, if any.
  bool FindMessageBox(MessageBoxInfo* info) const;
  // The file-open dialog, if one is on screen.
  HWND FindFileDialog() const;

  // Memory in the target for messages whose parameters point at data.
  void* Alloc(size_t size);
  bool Write(void* remote, const void* data, size_t size);
  bool Read(const void* remote, void* data, size_t size);

 private:
  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
  std::vector<void*> allocations_;
};

std::wstring WindowText(HWND hwnd);
std::wstring ClassName(HWND hwnd);

// The definition a top-level window was built from: its title is the
// definition's title, or starts with it (the main window's title grows).
const rt::WindowDef* DefinitionFor(const std::wstring& title);
// The control's identifier in its window, or 0 when the name is unknown.
int ControlId(const rt::WindowDef& def, const std::string& gbk_name, const rt::ControlDef** out);

}  // namespace autodrv
#endif
