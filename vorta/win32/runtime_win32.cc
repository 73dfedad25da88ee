#ifdef _WIN32
#include "vorta/win32/runtime_win32.h"

#include <commctrl.h>
#include <commdlg.h>

#include <climits>
#include <cmath>
#include <algorithm>
#include <cstring>
#include <new>

#include "mdb/oadate.h"
#include "ui/windows.h"
#include "vorta/convert.h"
#include "vorta/win32/list_view.h"
#include "vorta/win32/picture_box.h"
#include "vorta/win32/wide.h"

namespace vorta::win {

namespace {

const wchar_t kWindowClass[] = L"VortaWindow";
const wchar_t kDateFormat[] = L"yyyy-MM-dd";

Win32Runtime* g_self = nullptr;

// The library carries its own look-ups: it shares no code with the program.
const rt::WindowDef* WindowDefOf(const rt::ProgramImage& image, rt::WindowId id) {
  for (int i = 0; i < image.window_count; ++i)
    if (image.windows[i].id == id) return &image.windows[i];
  return nullptr;
}

const rt::ControlDef* ControlDefOf(const rt::WindowDef& window, const char* name) {
  for (int i = 0; i < window.control_count; ++i)
    if (std::strcmp(window.controls[i].name, name) == 0) return &window.controls[i];
  return nullptr;
}

bool IsFocusStop(rt::ControlKind k) {
  switch (k) {
    case rt::ControlKind::Button:
    case rt::ControlKind::Edit:
    case rt::ControlKind::Combo:
    case rt::ControlKind::DateBox:
    case rt::ControlKind::CheckBox:
    case rt::ControlKind::ListView:
      return true;
    default:
      return false;
  }
}

}  // namespace

Win32Runtime::Win32Runtime(const rt::ProgramImage& image) : image_(image) { g_self = this; }

Win32Runtime::~Win32Runtime() {
  if (font_ != nullptr) DeleteObject(font_);
  if (g_self == this) g_self = nullptr;
}

bool Win32Runtime::Init() {
  instance_ = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance_;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kWindowClass;
  // The program's own icon when it has one.
  wc.hIcon = LoadIconW(instance_, MAKEINTRESOURCEW(1));
  if (wc.hIcon == nullptr) wc.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
  wc.hIconSm = wc.hIcon;
  if (RegisterClassExW(&wc) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
  if (!RegisterPictureBox(instance_)) return false;

  HDC screen = GetDC(nullptr);
  dpi_ = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  if (dpi_ <= 0) dpi_ = 96;

  NONCLIENTMETRICSW ncm = {};
  ncm.cbSize = sizeof(ncm);
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(ncm), &ncm, 0)) {
    // Chinese glyphs need at least 9 points to stay legible.
    LONG min_height = -MulDiv(9, dpi_, 72);
    if (ncm.lfMessageFont.lfHeight > min_height) ncm.lfMessageFont.lfHeight = min_height;
    font_ = CreateFontIndirectW(&ncm.lfMessageFont);
  }
  if (font_ == nullptr) font_ = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  return true;
}

// ---------------------------------------------------------------- lifetime

void Win32Runtime::RegisterExitRoutine(void (*routine)()) { exit_routine_ = routine; }

bool Win32Runtime::PumpOne(MSG* msg) {
  if (GetMessageW(msg, nullptr, 0, 0) <= 0) return false;
  // Tab, Shift+Tab and Enter move between a window's controls as in a dialog.
  HWND top = msg->hwnd != nullptr ? GetAncestor(msg->hwnd, GA_ROOT) : nullptr;
  if (top != nullptr && FindByHwnd(top) != nullptr && IsDialogMessageW(top, msg)) return true;
  TranslateMessage(msg);
  DispatchMessageW(msg);
  return true;
}

void Win32Runtime::RunMessageLoop() {
  MSG msg;
  while (PumpOne(&msg)) {
  }
}

void Win32Runtime::EndProgram(int exit_code) {
  if (!exit_routine_ran_) {
    exit_routine_ran_ = true;
    if (exit_routine_ != nullptr) exit_routine_();
  }
  // Files first: a database unit writes nothing after this.
  for (auto& [key, unit] : units_) unit->CloseDatabase();
  ExitProcess(static_cast<UINT>(exit_code));
}

rt::Text Win32Runtime::GetRunDirectory() {
  std::wstring path(32768, L'\0');
  DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(n < path.size() ? n : 0);
  size_t slash = path.find_last_of(L"\\/");
  path.resize(slash == std::wstring::npos ? 0 : slash);
  return Narrow(path);
}

// ------------------------------------------------------------------ windows

Win32Runtime::Window* Win32Runtime::FindLoaded(rt::WindowId id) {
  for (auto it = windows_.rbegin(); it != windows_.rend(); ++it)
    if ((*it)->def->id == id && !(*it)->destroyed) return it->get();
  return nullptr;
}

Win32Runtime::Window* Win32Runtime::FindByHwnd(HWND hwnd) {
  for (auto& w : windows_)
    if (w->hwnd == hwnd && !w->destroyed) return w.get();
  return nullptr;
}

Win32Runtime::Control* Win32Runtime::Find(const rt::ControlRef& ref, rt::ControlKind kind) {
  Window* w = FindLoaded(ref.window);
  if (w == nullptr || ref.name == nullptr || w->controls.empty()) return nullptr;
  // Handlers name a control by the same constant on every call (a list fill
  // four times a row), so the last one found is tried first; it is used only
  // while it is an element of this window's controls.
  const Control* first = w->controls.data();
  if (ref.name == last_found_name_ && last_found_ >= first && last_found_ < first + w->controls.size() &&
      last_found_->def->kind == kind)
    return last_found_;
  for (Control& c : w->controls) {
    if (c.def->kind == kind && std::strcmp(c.def->name, ref.name) == 0) {
      last_found_ = &c;
      last_found_name_ = ref.name;
      return &c;
    }
  }
  return nullptr;
}

void Win32Runtime::Fire(rt::Handler handler) {
  if (handler != nullptr) handler();
}

HWND Win32Runtime::CreateControl(Window* w, const rt::ControlDef& def, int id) {
  int left = def.left, top = def.top;
  if (def.parent != nullptr) {
    if (const rt::ControlDef* group = ControlDefOf(*w->def, def.parent)) {
      left += group->left;
      top += group->top;
    }
  }
  int x = Scale(left), y = Scale(top), cx = Scale(def.width), cy = Scale(def.height);
  DWORD style = WS_CHILD | WS_VISIBLE;
  DWORD ex_style = 0;
  const wchar_t* cls = nullptr;
  std::wstring caption = def.caption != nullptr ? Wide(def.caption) : std::wstring();
  if (IsFocusStop(def.kind)) style |= WS_TABSTOP;

  switch (def.kind) {
    case rt::ControlKind::Button:
      cls = WC_BUTTONW;
      style |= (def.flags & rt::kButtonDefault) ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
      break;
    case rt::ControlKind::Label:
      cls = WC_STATICW;
      style |= SS_LEFT | SS_CENTERIMAGE | SS_NOPREFIX;
      break;
    case rt::ControlKind::Edit:
      cls = WC_EDITW;
      ex_style |= WS_EX_CLIENTEDGE;
      if (def.flags & rt::kEditMultiLine)
        style |= ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | WS_VSCROLL;
      else
        style |= ES_AUTOHSCROLL;
      if (def.flags & rt::kEditPassword) style |= ES_PASSWORD;
      break;
    case rt::ControlKind::Combo:
      cls = WC_COMBOBOXW;
      style |= CBS_DROPDOWNLIST | WS_VSCROLL;
      cy += Scale(160);  // room for the drop-down list
      caption.clear();
      break;
    case rt::ControlKind::DateBox:
      cls = DATETIMEPICK_CLASSW;
      style |= DTS_SHORTDATEFORMAT;
      caption.clear();
      break;
    case rt::ControlKind::CheckBox:
      cls = WC_BUTTONW;
      style |= BS_AUTOCHECKBOX;
      break;
    case rt::ControlKind::PictureBox:
      cls = kPictureBoxClass;
      ex_style |= WS_EX_STATICEDGE;
      caption.clear();
      break;
    case rt::ControlKind::GroupBox:
      cls = WC_BUTTONW;
      style |= BS_GROUPBOX;
      break;
    case rt::ControlKind::ListView:
      cls = WC_LISTVIEWW;
      ex_style |= ListView::kExStyle;
      style |= ListView::kStyle;
      caption.clear();
      break;
    case rt::ControlKind::CommonDialog:
    case rt::ControlKind::Database:
      return nullptr;
  }

  HWND hwnd = CreateWindowExW(ex_style, cls, caption.c_str(), style, x, y, cx, cy, w->hwnd,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
  if (hwnd == nullptr) return nullptr;
  SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);

  switch (def.kind) {
    case rt::ControlKind::Edit:
      if (def.flags & rt::kEditPassword) SendMessageW(hwnd, EM_SETPASSWORDCHAR, L'*', 0);
      break;
    case rt::ControlKind::Combo: {
      if (def.items != nullptr)
        for (const char* const* item = def.items; *item != nullptr; ++item)
          SendMessageW(hwnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(*item).c_str()));
      SendMessageW(hwnd, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
      // The selection field takes the defined height. Item heights are not
      // read back the way they are set everywhere, so steer by the result.
      int set = static_cast<int>(SendMessageW(hwnd, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0));
      for (int attempt = 0; attempt < 4 && set > 0; ++attempt) {
        RECT rc;
        GetWindowRect(hwnd, &rc);
        int diff = Scale(def.height) - (rc.bottom - rc.top);
        if (diff == 0 || set + diff <= 0) break;
        set += diff;
        SendMessageW(hwnd, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), set);
      }
      break;
    }
    case rt::ControlKind::DateBox: {
      // Date only: whatever is shown or written stands at midnight.
      SYSTEMTIME st;
      GetLocalTime(&st);
      st.wHour = st.wMinute = st.wSecond = st.wMilliseconds = 0;
      SendMessageW(hwnd, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&st));
      // Written the way the lists show dates, whatever the system's locale.
      SendMessageW(hwnd, DTM_SETFORMATW, 0, reinterpret_cast<LPARAM>(kDateFormat));
      break;
    }
    default:
      break;
  }
  return hwnd;
}

bool Win32Runtime::CreateControls(Window* w) {
  w->controls.reserve(w->def->control_count);
  for (int i = 0; i < w->def->control_count; ++i) {
    const rt::ControlDef& def = w->def->controls[i];
    Control c;
    c.def = &def;
    c.id = ui::kFirstControlId + i;
    c.hwnd = CreateControl(w, def, c.id);
    bool visual = def.kind != rt::ControlKind::CommonDialog && def.kind != rt::ControlKind::Database;
    if (visual && c.hwnd == nullptr) return false;
    if (def.kind == rt::ControlKind::ListView) c.list = std::make_unique<ListView>(c.hwnd, def, dpi_);
    w->controls.push_back(std::move(c));
  }
  // Group boxes stay behind the controls they frame.
  for (Control& c : w->controls)
    if (c.def->kind == rt::ControlKind::GroupBox)
      SetWindowPos(c.hwnd, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  return true;
}

void Win32Runtime::LoadWindow(rt::WindowId id, bool modal) {
  const rt::WindowDef* def = WindowDefOf(image_, id);
  if (def == nullptr) return;
  if (Window* open = FindLoaded(id)) {  // already shown: bring it forward
    SetForegroundWindow(open->hwnd);
    return;
  }
  // Forget windows that are gone and no longer waited for.
  std::erase_if(windows_, [](const std::unique_ptr<Window>& w) { return w->destroyed && !w->in_modal_loop; });

  windows_.push_back(std::make_unique<Window>());
  Window* w = windows_.back().get();
  w->def = def;
  // No WS_CLIPCHILDREN: a group box leaves its inside for the window to paint.
  DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  HWND hwnd = CreateWindowExW(WS_EX_CONTROLPARENT, kWindowClass, Wide(def->title).c_str(), style,
                              Scale(def->left), Scale(def->top), Scale(def->width), Scale(def->height),
                              nullptr, nullptr, instance_, w);
  if (hwnd == nullptr || !CreateControls(w)) {
    if (hwnd != nullptr) DestroyWindow(hwnd);
    w->destroyed = true;
    return;
  }

  // A modal window keeps the others from input until it has closed.
  std::vector<HWND> disabled;
  if (modal) {
    w->in_modal_loop = true;
    for (auto& other : windows_)
      if (other.get() != w && !other->destroyed && IsWindowEnabled(other->hwnd)) {
        disabled.push_back(other->hwnd);
        EnableWindow(other->hwnd, FALSE);
      }
  }

  Fire(def->on_created);
  if (!w->destroyed) {
    ShowWindow(w->hwnd, SW_SHOW);
    SetForegroundWindow(w->hwnd);
    for (Control& c : w->controls)
      if (c.hwnd != nullptr && (GetWindowLongW(c.hwnd, GWL_STYLE) & WS_TABSTOP)) {
        SetFocus(c.hwnd);
        break;
      }
  }

  if (modal) {
    MSG msg = {};
    bool quit = false;
    while (!w->destroyed) {
      if (!PumpOne(&msg)) {
        quit = true;
        break;
      }
    }
    for (HWND other : disabled)
      if (IsWindow(other)) EnableWindow(other, TRUE);
    if (!disabled.empty() && IsWindow(disabled.back())) SetForegroundWindow(disabled.back());
    w->in_modal_loop = false;
    // The outer loop must see the end of the program too.
    if (quit) PostQuitMessage(static_cast<int>(msg.wParam));
  }
}

void Win32Runtime::CloseWindow(rt::WindowId id) {
  Window* w = FindLoaded(id);
  if (w != nullptr && w->hwnd != nullptr) DestroyWindow(w->hwnd);
}

LRESULT CALLBACK Win32Runtime::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
    auto* w = static_cast<Window*>(cs->lpCreateParams);
    w->hwnd = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(w));
  }
  auto* w = reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (w == nullptr || g_self == nullptr) return DefWindowProcW(hwnd, msg, wp, lp);
  // Nothing is thrown out of a window procedure: the system's frames lie
  // between it and any catcher.
  try {
    return g_self->HandleMessage(w, hwnd, msg, wp, lp);
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

LRESULT Win32Runtime::HandleMessage(Window* w, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND: {
      if (HIWORD(wp) != BN_CLICKED || lp == 0) break;
      for (Control& c : w->controls)
        if (c.hwnd == reinterpret_cast<HWND>(lp)) {
          if (c.def->kind == rt::ControlKind::Button) Fire(c.def->on_click);
          return 0;
        }
      break;
    }
    case DM_GETDEFID:
      for (Control& c : w->controls)
        if (c.def->kind == rt::ControlKind::Button && (c.def->flags & rt::kButtonDefault))
          return MAKELRESULT(c.id, DC_HASDEFID);
      return 0;
    case WM_NOTIFY: {
      auto* hdr = reinterpret_cast<NMHDR*>(lp);
      if (hdr->code == LVN_GETDISPINFOW) {
        for (Control& c : w->controls)
          if (c.hwnd == hdr->hwndFrom && c.list) c.list->OnGetDispInfo(reinterpret_cast<NMLVDISPINFOW*>(lp));
        return 0;
      }
      if (hdr->code == DTN_DATETIMECHANGE) {
        for (Control& c : w->controls)
          if (c.hwnd == hdr->hwndFrom && c.def->kind == rt::ControlKind::DateBox) ReleaseDay(&c);
        return 0;
      }
      if (hdr->code == LVN_ODFINDITEMW) {
        for (Control& c : w->controls)
          if (c.hwnd == hdr->hwndFrom && c.list) return c.list->OnFindItem(*reinterpret_cast<NMLVFINDITEMW*>(lp));
        return -1;
      }
      if (hdr->code != LVN_ITEMCHANGED) break;
      // Only a row that has just become the selected one counts.
      if (!ListView::GainsSelection(*reinterpret_cast<NMLISTVIEW*>(lp))) break;
      for (Control& c : w->controls)
        if (c.hwnd == hdr->hwndFrom && c.def->kind == rt::ControlKind::ListView) {
          Fire(c.def->on_current_row_changed);
          break;
        }
      return 0;
    }
    case WM_CLOSE:
      // The close request is always granted.
      Fire(w->def->on_close_request);
      if (!w->destroyed) DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      Fire(w->def->on_destroy);
      if (w->def->id == image_.startup_window) PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      w->destroyed = true;
      for (Control& c : w->controls) c.hwnd = nullptr;
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      break;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

// --------------------------------------------------------------- properties

rt::Value Win32Runtime::GetProperty(const rt::ControlRef& ref, rt::Prop prop) {
  try {
    return Property(ref, prop);
  } catch (const std::bad_alloc&) {
    return rt::Value::Error();  // a text or picture too large to copy now
  }
}

rt::Value Win32Runtime::Property(const rt::ControlRef& ref, rt::Prop prop) {
  auto window_text = [](HWND hwnd) {
    int n = GetWindowTextLengthW(hwnd);
    std::wstring s(static_cast<size_t>(n) + 1, L'\0');
    n = GetWindowTextW(hwnd, s.data(), n + 1);
    s.resize(n > 0 ? n : 0);
    return rt::Value::FromText(Narrow(s));
  };
  switch (prop) {
    case rt::Prop::Title: {
      Window* w = FindLoaded(ref.window);
      return w != nullptr ? window_text(w->hwnd) : rt::Value();
    }
    case rt::Prop::Text: {
      for (auto kind : {rt::ControlKind::Edit, rt::ControlKind::Combo, rt::ControlKind::Label,
                        rt::ControlKind::Button, rt::ControlKind::CheckBox, rt::ControlKind::GroupBox})
        if (Control* c = Find(ref, kind)) return window_text(c->hwnd);
      return rt::Value();
    }
    case rt::Prop::Index: {
      Control* c = Find(ref, rt::ControlKind::Combo);
      if (c == nullptr) return rt::Value();
      LRESULT i = SendMessageW(c->hwnd, CB_GETCURSEL, 0, 0);
      return rt::Value::FromInt(i == CB_ERR ? -1 : static_cast<int64_t>(i));
    }
    case rt::Prop::Date: {
      Control* c = Find(ref, rt::ControlKind::DateBox);
      if (c == nullptr) return rt::Value();
      if (c->holds_day) return rt::Value::FromDate(c->held_day);
      SYSTEMTIME st = {};
      if (SendMessageW(c->hwnd, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&st)) != GDT_VALID)
        return rt::Value();
      mdb::CivilTime t;
      t.year = st.wYear;
      t.month = st.wMonth;
      t.day = st.wDay;
      if (!mdb::IsValidCivil(t)) return rt::Value();
      return rt::Value::FromDate(rt::DateTime{mdb::CivilToOa(t)});
    }
    case rt::Prop::Picture: {
      Control* c = Find(ref, rt::ControlKind::PictureBox);
      return c != nullptr ? rt::Value::FromBytes(c->picture) : rt::Value();
    }
    case rt::Prop::Checked: {
      Control* c = Find(ref, rt::ControlKind::CheckBox);
      if (c == nullptr) return rt::Value();
      return rt::Value::FromBool(SendMessageW(c->hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED);
    }
    case rt::Prop::CurrentRow: {
      Control* c = Find(ref, rt::ControlKind::ListView);
      if (c == nullptr) return rt::Value::FromInt(-1);
      return rt::Value::FromInt(c->list->CurrentRow());
    }
    case rt::Prop::FileName: {
      auto it = file_names_.find({ref.window, ref.name != nullptr ? ref.name : ""});
      return rt::Value::FromText(it != file_names_.end() ? it->second : rt::Text());
    }
  }
  return rt::Value();
}

bool Win32Runtime::SetProperty(const rt::ControlRef& ref, rt::Prop prop, rt::Value value) try {
  switch (prop) {
    case rt::Prop::Title: {
      Window* w = FindLoaded(ref.window);
      return w != nullptr && SetWindowTextW(w->hwnd, Wide(vorta::ToText(std::move(value))).c_str());
    }
    case rt::Prop::Text: {
      Control* c = Find(ref, rt::ControlKind::Edit);
      if (c == nullptr) c = Find(ref, rt::ControlKind::Label);
      if (c != nullptr) return SetWindowTextW(c->hwnd, Wide(vorta::ToText(std::move(value))).c_str());
      if (Control* combo = Find(ref, rt::ControlKind::Combo)) {
        std::wstring text = Wide(vorta::ToText(std::move(value)));
        LRESULT i = SendMessageW(combo->hwnd, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                 reinterpret_cast<LPARAM>(text.c_str()));
        SendMessageW(combo->hwnd, CB_SETCURSEL, i == CB_ERR ? static_cast<WPARAM>(-1) : i, 0);
        return true;
      }
      return false;
    }
    case rt::Prop::Index: {
      Control* c = Find(ref, rt::ControlKind::Combo);
      if (c == nullptr) return false;
      int64_t i = value.kind() == rt::Kind::Integer ? value.integer() : -1;
      LRESULT count = SendMessageW(c->hwnd, CB_GETCOUNT, 0, 0);
      if (i < 0 || i >= count) i = -1;
      SendMessageW(c->hwnd, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
      return true;
    }
    case rt::Prop::Date: {
      Control* c = Find(ref, rt::ControlKind::DateBox);
      if (c == nullptr) return false;
      SetDay(c, value.kind() == rt::Kind::DateTime ? value.date() : vorta::ToDateTime(value));
      return true;
    }
    case rt::Prop::Picture: {
      Control* c = Find(ref, rt::ControlKind::PictureBox);
      if (c == nullptr) return false;
      // Moved in: the box holds the one copy of a photo.
      c->picture = vorta::ToBinary(std::move(value));
      ShowPicture(c->hwnd, c->picture);
      return true;
    }
    case rt::Prop::Checked: {
      Control* c = Find(ref, rt::ControlKind::CheckBox);
      if (c == nullptr) return false;
      bool on = value.kind() == rt::Kind::Bool ? value.boolean()
                : value.kind() == rt::Kind::Integer ? value.integer() != 0
                                                   : false;
      SendMessageW(c->hwnd, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
      return true;
    }
    case rt::Prop::CurrentRow: {
      Control* c = Find(ref, rt::ControlKind::ListView);
      if (c == nullptr || value.kind() != rt::Kind::Integer) return false;
      c->list->SetCurrentRow(value.integer());
      return true;
    }
    case rt::Prop::FileName:
      file_names_[{ref.window, ref.name != nullptr ? ref.name : ""}] = vorta::ToText(std::move(value));
      return true;
  }
  return false;
} catch (const std::bad_alloc&) {
  return false;  // the control keeps what it showed
}

void Win32Runtime::SetDay(Control* c, rt::DateTime d) {
  mdb::CivilTime t;
  if (!mdb::OaToCivil(d.oa, &t)) return;
  t.hour = t.minute = t.second = 0;
  SYSTEMTIME st = {};
  st.wYear = static_cast<WORD>(t.year);
  st.wMonth = static_cast<WORD>(t.month);
  st.wDay = static_cast<WORD>(t.day);
  // Whether the control took the day is told by what it holds afterwards:
  // not every one says so when it refuses.
  bool before_calendar = t.year < 1752 || (t.year == 1752 && (t.month < 9 || (t.month == 9 && t.day < 14)));
  if (!before_calendar && SendMessageW(c->hwnd, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&st))) {
    SYSTEMTIME held = {};
    if (SendMessageW(c->hwnd, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&held)) == GDT_VALID &&
        held.wYear == st.wYear && held.wMonth == st.wMonth && held.wDay == st.wDay) {
      ReleaseDay(c);
      return;
    }
  }
  // The calendar begins on 1752-09-14. An earlier day is shown as the text
  // the list shows and kept as the box's date, so that what is written back
  // is what the operator saw; the calendar opens on its first day, and a day
  // picked there replaces it.
  SYSTEMTIME first = {};
  first.wYear = 1752;
  first.wMonth = 9;
  first.wDay = 14;
  SendMessageW(c->hwnd, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&first));
  c->held_day = rt::DateTime{mdb::CivilToOa(t)};
  std::wstring shown = L"'" + Wide(mdb::FormatOaDate(c->held_day.oa)) + L"'";
  SendMessageW(c->hwnd, DTM_SETFORMATW, 0, reinterpret_cast<LPARAM>(shown.c_str()));
  c->holds_day = true;
}

void Win32Runtime::ReleaseDay(Control* c) {
  if (!c->holds_day) return;
  c->holds_day = false;
  SendMessageW(c->hwnd, DTM_SETFORMATW, 0, reinterpret_cast<LPARAM>(kDateFormat));
}

HWND Win32Runtime::ActiveOwner() {
  // A disabled window (behind a modal one) must stay disabled after the box.
  HWND active = GetActiveWindow();
  if (active != nullptr && FindByHwnd(active) != nullptr && IsWindowEnabled(active)) return active;
  return nullptr;
}

int Win32Runtime::ShowMessage(const rt::Text& text, uint32_t flags) try {
  HWND owner = ActiveOwner();
  UINT style = flags | MB_SETFOREGROUND;
  if (owner == nullptr) style |= MB_TASKMODAL;
  // An empty caption: the box has no title.
  return MessageBoxW(owner, Wide(text).c_str(), L"", style);
} catch (const std::bad_alloc&) {
  return 0;
}

bool Win32Runtime::ShowFileDialog(const rt::ControlRef& ref) try {
  const rt::WindowDef* def = WindowDefOf(image_, ref.window);
  const rt::ControlDef* cd = def != nullptr && ref.name != nullptr ? ControlDefOf(*def, ref.name) : nullptr;
  if (cd == nullptr || cd->kind != rt::ControlKind::CommonDialog) return false;
  // The dialog's library brings the shell's with it: it is loaded when a
  // dialog is first wanted rather than with the program.
  using OpenFileNameFunction = BOOL(WINAPI*)(OPENFILENAMEW*);
  static const OpenFileNameFunction get_open_file_name = [] {
    HMODULE dialogs = LoadLibraryW(L"comdlg32.dll");
    return dialogs != nullptr
               ? reinterpret_cast<OpenFileNameFunction>(
                     reinterpret_cast<void*>(GetProcAddress(dialogs, "GetOpenFileNameW")))
               : nullptr;
  }();
  if (get_open_file_name == nullptr) return false;
  Window* w = FindLoaded(ref.window);
  std::wstring buffer(32768, L'\0');
  OPENFILENAMEW ofn = {};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = w != nullptr ? w->hwnd : ActiveOwner();
  ofn.lpstrFile = buffer.data();
  ofn.nMaxFile = static_cast<DWORD>(buffer.size());
  ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (!get_open_file_name(&ofn)) return false;
  buffer.resize(wcslen(buffer.c_str()));
  file_names_[{ref.window, ref.name}] = Narrow(buffer);
  return true;
} catch (const std::bad_alloc&) {
  return false;
}

// --------------------------------------------------------------- list views

void Win32Runtime::DeleteAllItems(const rt::ControlRef& ref) {
  if (Control* c = Find(ref, rt::ControlKind::ListView)) c->list->DeleteAllItems();
}

int Win32Runtime::InsertItem(const rt::ControlRef& ref, const rt::Text& title, int32_t row_value) try {
  Control* c = Find(ref, rt::ControlKind::ListView);
  return c != nullptr ? c->list->InsertItem(title, row_value) : -1;
} catch (const std::bad_alloc&) {
  return -1;
}

void Win32Runtime::SetItemText(const rt::ControlRef& ref, int row, int column, const rt::Text& text) try {
  if (Control* c = Find(ref, rt::ControlKind::ListView)) c->list->SetItemText(row, column, text);
} catch (const std::bad_alloc&) {
  // the cell stays as it was: the list is only shown, never read back
}

int32_t Win32Runtime::GetItemData(const rt::ControlRef& ref, int row) {
  Control* c = Find(ref, rt::ControlKind::ListView);
  return c != nullptr ? c->list->GetItemData(row) : 0;
}

void Win32Runtime::DeleteItem(const rt::ControlRef& ref, int row) {
  if (Control* c = Find(ref, rt::ControlKind::ListView)) c->list->DeleteItem(row);
}

// ----------------------------------------------------------------- database

DatabaseUnit* Win32Runtime::Unit(const rt::DbRef& db) {
  if (!db.valid()) return nullptr;
  // Units live as long as the runtime; the last one asked for is asked again
  // for every field of every row.
  if (last_unit_ != nullptr && db.window == last_unit_ref_.window && db.name == last_unit_ref_.name) return last_unit_;
  auto& unit = units_[{db.window, db.name}];
  if (!unit) unit = std::make_unique<DatabaseUnit>();
  last_unit_ref_ = db;
  last_unit_ = unit.get();
  return unit.get();
}

bool Win32Runtime::OpenMdb(const rt::DbRef& db, const rt::Text& file, const rt::Text& password) {
  DatabaseUnit* u = Unit(db);
  return u != nullptr && u->OpenMdb(file, password);
}
void Win32Runtime::CloseDatabase(const rt::DbRef& db) {
  if (DatabaseUnit* u = Unit(db)) u->CloseDatabase();
}
int Win32Runtime::Query(const rt::DbRef& db, const rt::Text& sql) {
  DatabaseUnit* u = Unit(db);
  return u != nullptr ? u->Query(sql) : 0;
}
void Win32Runtime::MoveFirst(const rt::DbRef& db, int rs) {
  if (DatabaseUnit* u = Unit(db)) u->MoveFirst(rs);
}
void Win32Runtime::MoveNext(const rt::DbRef& db, int rs) {
  if (DatabaseUnit* u = Unit(db)) u->MoveNext(rs);
}
bool Win32Runtime::IsAfterLast(const rt::DbRef& db, int rs) {
  DatabaseUnit* u = Unit(db);
  return u == nullptr || u->IsAfterLast(rs);
}
rt::Value Win32Runtime::ReadField(const rt::DbRef& db, int rs, const rt::Text& column) {
  DatabaseUnit* u = Unit(db);
  return u != nullptr ? u->ReadField(rs, column) : rt::Value();
}
void Win32Runtime::CloseRecordSet(const rt::DbRef& db, int rs) {
  if (DatabaseUnit* u = Unit(db)) u->CloseRecordSet(rs);
}
bool Win32Runtime::ExecuteSql(const rt::DbRef& db, const rt::Text& sql, rt::Bytes* param) {
  DatabaseUnit* u = Unit(db);
  return u != nullptr && u->ExecuteSql(sql, param);
}

// -------------------------------------------------------------- conversions

// Numbers and dates make small texts; texts and byte blocks are moved.
rt::Text Win32Runtime::ToText(rt::Value v) try {
  return vorta::ToText(std::move(v));
} catch (const std::bad_alloc&) {
  return rt::Text();
}
rt::DateTime Win32Runtime::ToDateTime(const rt::Value& v) { return vorta::ToDateTime(v); }
rt::Bytes Win32Runtime::ToBinary(rt::Value v) try {
  return vorta::ToBinary(std::move(v));
} catch (const std::bad_alloc&) {
  return rt::Bytes();
}
int Win32Runtime::DatePart(rt::DateTime d, char part) { return vorta::DatePart(d, part); }
rt::Bytes Win32Runtime::ReadFile(const rt::Text& file_name) { return vorta::ReadFile(file_name); }
int64_t Win32Runtime::FileSize(const rt::Text& file_name) { return vorta::FileSize(file_name); }

}  // namespace vorta::win
#endif
