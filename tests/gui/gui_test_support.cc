#include "tests/gui/gui_test_support.h"

#include <array>
#include <cstring>
#include <deque>
#include <map>
#include <utility>

#include "tools/auto/capture.h"
#include "ui/windows.h"
#include "vorta/win32/wide.h"

namespace guitest {

namespace {

// One recorder per binding slot: handlers take no arguments, so each slot
// needs a function of its own.
constexpr int kSlots = 48;
struct Slot {
  std::string event;
  rt::WindowId window = rt::WindowId::None;
};
std::array<Slot, kSlots> g_slots;
int g_slot_count = 0;
std::vector<std::string> g_events;
std::string g_close_on;
bool g_quit = false;

template <int N>
void Record() {
  g_events.push_back(g_slots[N].event);
  if (!g_close_on.empty() && g_slots[N].event == g_close_on) rt::CloseWindow(g_slots[N].window);
}

template <int... N>
constexpr std::array<rt::Handler, sizeof...(N)> MakeRecorders(std::integer_sequence<int, N...>) {
  return {&Record<N>...};
}
const auto kRecorders = MakeRecorders(std::make_integer_sequence<int, kSlots>());

rt::Handler Bind(rt::Handler real, rt::WindowId window, std::string event) {
  if (real == nullptr) return nullptr;
  if (g_slot_count >= kSlots) std::abort();
  g_slots[g_slot_count] = {std::move(event), window};
  return kRecorders[g_slot_count++];
}

// Stable storage for the copied definitions.
std::deque<std::vector<rt::ControlDef>> g_controls;
std::vector<rt::WindowDef> g_windows;

}  // namespace

const rt::ProgramImage& TestImage(void (*entry)()) {
  static rt::ProgramImage image;
  if (g_windows.empty()) {
    for (int i = 0; i < ui::WindowCount(); ++i) {
      rt::WindowDef w = ui::Windows()[i];
      std::string title = w.title;
      g_controls.emplace_back(w.controls, w.controls + w.control_count);
      for (rt::ControlDef& c : g_controls.back()) {
        c.on_click = Bind(c.on_click, w.id, title + "." + c.name + ".clicked");
        c.on_current_row_changed = Bind(c.on_current_row_changed, w.id, title + "." + c.name + ".row-changed");
      }
      w.controls = g_controls.back().data();
      w.on_created = Bind(w.on_created, w.id, title + ".window.created");
      w.on_close_request = Bind(w.on_close_request, w.id, title + ".window.close-request");
      w.on_destroy = Bind(w.on_destroy, w.id, title + ".window.destroy");
      g_windows.push_back(w);
    }
  }
  image = rt::ProgramImage{rt::kImageMagic,    rt::kImageVersion, g_windows.data(),
                           static_cast<int>(g_windows.size()), rt::WindowId::Main, entry,
                           rt::SetRuntime};
  return image;
}

std::vector<std::string> TakeEvents() {
  std::vector<std::string> out;
  out.swap(g_events);
  return out;
}

void CloseOnEvent(const std::string& event) { g_close_on = event; }

const rt::WindowDef& Def(rt::WindowId id) {
  for (const rt::WindowDef& w : g_windows)
    if (w.id == id) return w;
  std::abort();
}

namespace {
struct FindState {
  std::wstring title;
  HWND found;
};
BOOL CALLBACK FindByTitle(HWND hwnd, LPARAM lp) {
  auto* s = reinterpret_cast<FindState*>(lp);
  // The main window's title grows at run time; it still starts the same.
  if (Text(hwnd).compare(0, s->title.size(), s->title) == 0) {
    s->found = hwnd;
    return FALSE;
  }
  return TRUE;
}
}  // namespace

HWND TopLevel(rt::WindowId id) {
  FindState s{Wide(Def(id).title), nullptr};
  EnumThreadWindows(GetCurrentThreadId(), FindByTitle, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

HWND ControlHwnd(rt::WindowId id, const char* gbk_name) {
  const rt::WindowDef& def = Def(id);
  HWND top = TopLevel(id);
  for (int i = 0; i < def.control_count; ++i)
    if (std::strcmp(def.controls[i].name, gbk_name) == 0) return GetDlgItem(top, ui::kFirstControlId + i);
  return nullptr;
}

std::wstring Text(HWND hwnd) {
  int n = GetWindowTextLengthW(hwnd);
  std::wstring s(static_cast<size_t>(n) + 1, L'\0');
  n = GetWindowTextW(hwnd, s.data(), n + 1);
  s.resize(n > 0 ? n : 0);
  return s;
}

std::wstring Wide(const char* gbk) { return vorta::win::Wide(gbk != nullptr ? gbk : ""); }

void Pump(int ms) {
  DWORD start = GetTickCount();
  do {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        g_quit = true;
        continue;
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (ms > 0) Sleep(10);
  } while (GetTickCount() - start < static_cast<DWORD>(ms));
}

bool QuitPosted() {
  bool q = g_quit;
  g_quit = false;
  return q;
}

namespace {
std::map<UINT_PTR, void (*)()> g_timers;

VOID CALLBACK RunTimer(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  auto it = g_timers.find(id);
  if (it == g_timers.end()) return;
  void (*fn)() = it->second;
  g_timers.erase(it);
  fn();
}
}  // namespace

void After(int ms, void (*fn)()) {
  UINT_PTR id = SetTimer(nullptr, 0, static_cast<UINT>(ms), RunTimer);
  if (id != 0) g_timers[id] = fn;
}

bool SaveScreenshot(HWND hwnd, const std::string& name) {
  std::wstring dir = vorta::win::Wide(USERMGR_BINARY_DIR "/screenshots");
  for (wchar_t& c : dir)
    if (c == L'/') c = L'\\';
  if (!dir.empty() && dir[0] == L'\\') dir = L"Z:" + dir;  // a Linux build folder under Wine
  CreateDirectoryW(dir.c_str(), nullptr);
  RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  Pump(300);
  std::string error;
  return autodrv::SaveWindowPng(hwnd, dir + L"\\" + vorta::win::Wide(name), &error);
}

}  // namespace guitest
