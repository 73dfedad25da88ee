#ifdef _WIN32
#include "tools/auto/target.h"

#include <cstdlib>
#include <cstring>

#include "ui/windows.h"
#include "vorta/win32/wide.h"

namespace autodrv {

namespace {

// Control identifiers a message box uses for its text and icon.
constexpr int kMessageTextId = 0xFFFF;
constexpr int kMessageIconId = 0x14;
// The file name box of the file-open dialog (combo box or edit).
constexpr int kFileNameComboId = 0x47C;
constexpr int kFileNameEditId = 0x480;

struct EnumState {
  DWORD pid;
  std::vector<HWND>* out;
};

BOOL CALLBACK CollectTopLevel(HWND hwnd, LPARAM lp) {
  auto* s = reinterpret_cast<EnumState*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid == s->pid && IsWindowVisible(hwnd)) s->out->push_back(hwnd);
  return TRUE;
}

// Which of the standard icons a message box shows. Icon handles need not
// be usable across processes, so the pictures are compared: the icon as it
// stands on screen against each standard icon drawn on the same background.
std::string IconName(HWND icon_static) {
  if (icon_static == nullptr || !IsWindowVisible(icon_static)) return "none";
  DWORD_PTR shown = 0;
  if (!SendMessageTimeoutW(icon_static, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 2000, &shown) || shown == 0)
    return "none";
  struct Known {
    LPCWSTR id;
    const char* name;
  };
  const Known known[] = {{IDI_HAND, "error"},
                         {IDI_ASTERISK, "information"},
                         {IDI_QUESTION, "question"},
                         {IDI_EXCLAMATION, "warning"}};
  for (const Known& k : known)
    if (reinterpret_cast<HICON>(shown) == LoadIconW(nullptr, k.id)) return k.name;

  const int size = GetSystemMetrics(SM_CXICON);
  POINT origin = {0, 0};
  ClientToScreen(icon_static, &origin);
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  BITMAPINFO bi = {};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = size;
  bi.bmiHeader.biHeight = -size;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(dc, bmp);
  auto pixels = [&] {
    GdiFlush();
    return std::string(static_cast<const char*>(bits), static_cast<size_t>(size) * size * 4);
  };
  BitBlt(dc, 0, 0, size, size, screen, origin.x, origin.y, SRCCOPY);
  std::string on_screen = pixels();
  COLORREF background = GetPixel(dc, 0, 0);
  HBRUSH brush = CreateSolidBrush(background);
  std::string name = "unknown";
  for (const Known& k : known) {
    RECT rc = {0, 0, size, size};
    FillRect(dc, &rc, brush);
    DrawIconEx(dc, 0, 0, LoadIconW(nullptr, k.id), size, size, 0, nullptr, DI_NORMAL);
    std::string drawn = pixels();
    // Allow for rounding in the blending of the icon's edges.
    size_t differing = 0;
    for (size_t i = 0; i < drawn.size(); ++i)
      if (std::abs(static_cast<int>(static_cast<unsigned char>(drawn[i])) -
                   static_cast<int>(static_cast<unsigned char>(on_screen[i]))) > 8)
        ++differing;
    if (differing < drawn.size() / 50) {
      name = k.name;
      break;
    }
  }
  DeleteObject(brush);
  SelectObject(dc, old);
  DeleteObject(bmp);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
  return name;
}

std::string ButtonSet(HWND box) {
  auto has = [&](int id) {
    HWND b = GetDlgItem(box, id);
    return b != nullptr && IsWindowVisible(b);
  };
  bool ok = has(IDOK), cancel = has(IDCANCEL), yes = has(IDYES), no = has(IDNO);
  if (yes && no && cancel) return "yesnocancel";
  if (yes && no) return "yesno";
  if (ok && cancel) return "okcancel";
  if (ok) return "ok";
  if (has(IDABORT)) return "abortretryignore";
  if (has(IDRETRY)) return "retrycancel";
  return "unknown";
}

}  // namespace

std::wstring WindowText(HWND hwnd) {
  wchar_t buf[4096];
  DWORD_PTR n = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 2000, &n))
    return std::wstring();
  return std::wstring(buf, n);
}

std::wstring ClassName(HWND hwnd) {
  wchar_t buf[256];
  int n = GetClassNameW(hwnd, buf, 256);
  return std::wstring(buf, n > 0 ? n : 0);
}

Target::~Target() {
  if (process_ != nullptr) {
    if (running()) TerminateProcess(process_, 1);
    CloseHandle(process_);
  }
}

bool Target::Start(const std::wstring& program, const std::wstring& args, const std::wstring& cwd,
                   std::string* error) {
  std::wstring cmd = L"\"" + program + L"\"";
  if (!args.empty()) cmd += L" " + args;
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(program.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      cwd.empty() ? nullptr : cwd.c_str(), &si, &pi)) {
    *error = "cannot start the program (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  CloseHandle(pi.hThread);
  if (process_ != nullptr) CloseHandle(process_);
  process_ = pi.hProcess;
  pid_ = pi.dwProcessId;
  allocations_.clear();
  WaitForInputIdle(process_, 5000);
  return true;
}

bool Target::running() const {
  return process_ != nullptr && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

bool Target::WaitExit(DWORD timeout_ms, DWORD* exit_code) {
  if (process_ == nullptr) return false;
  if (WaitForSingleObject(process_, timeout_ms) != WAIT_OBJECT_0) return false;
  GetExitCodeProcess(process_, exit_code);
  return true;
}

void Target::Kill() {
  if (running()) TerminateProcess(process_, 1);
}

std::vector<HWND> Target::TopLevelWindows() const {
  std::vector<HWND> out;
  if (process_ == nullptr) return out;
  EnumState s{pid_, &out};
  EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&s));
  return out;
}

HWND Target::FindWindowByTitle(const std::wstring& title) const {
  for (HWND h : TopLevelWindows())
    if (ClassName(h) != L"#32770" && WindowText(h) == title) return h;
  return nullptr;
}

bool Target::FindMessageBox(MessageBoxInfo* info) const {
  for (HWND h : TopLevelWindows()) {
    if (ClassName(h) != L"#32770") continue;
    HWND text = GetDlgItem(h, kMessageTextId);
    if (text == nullptr || GetDlgItem(h, kFileNameComboId) != nullptr) continue;
    info->hwnd = h;
    info->text = WindowText(text);
    info->caption = WindowText(h);
    HWND icon = GetDlgItem(h, kMessageIconId);
    if (icon == nullptr || (GetWindowLongW(icon, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) {
      icon = nullptr;  // not at the usual place: any icon picture on the box
      for (HWND c = GetWindow(h, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT))
        if (ClassName(c) == L"Static" && (GetWindowLongW(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) icon = c;
    }
    info->icon = IconName(icon);
    info->buttons = ButtonSet(h);
    return true;
  }
  return false;
}

HWND Target::FindFileDialog() const {
  for (HWND h : TopLevelWindows())
    if (ClassName(h) == L"#32770" &&
        (GetDlgItem(h, kFileNameComboId) != nullptr || GetDlgItem(h, kFileNameEditId) != nullptr))
      return h;
  return nullptr;
}

void* Target::Alloc(size_t size) {
  void* p = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (p != nullptr) allocations_.push_back(p);
  return p;
}

bool Target::Write(void* remote, const void* data, size_t size) {
  SIZE_T n = 0;
  return WriteProcessMemory(process_, remote, data, size, &n) && n == size;
}

bool Target::Read(const void* remote, void* data, size_t size) {
  SIZE_T n = 0;
  return ReadProcessMemory(process_, remote, data, size, &n) && n == size;
}

const rt::WindowDef* DefinitionFor(const std::wstring& title) {
  const rt::WindowDef* best = nullptr;
  size_t best_len = 0;
  for (int i = 0; i < ui::WindowCount(); ++i) {
    const rt::WindowDef& d = ui::Windows()[i];
    std::wstring t = vorta::win::Wide(d.title);
    if (title.compare(0, t.size(), t) == 0 && t.size() > best_len) {
      best = &d;
      best_len = t.size();
    }
  }
  return best;
}

int ControlId(const rt::WindowDef& def, const std::string& gbk_name, const rt::ControlDef** out) {
  for (int i = 0; i < def.control_count; ++i)
    if (gbk_name == def.controls[i].name) {
      if (out != nullptr) *out = &def.controls[i];
      return ui::kFirstControlId + i;
    }
  return 0;
}

}  // namespace autodrv
#endif
