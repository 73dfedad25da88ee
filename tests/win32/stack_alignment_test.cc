// 32-bit Windows calls window procedures, thread starts and the other
// callbacks with a stack aligned to 4 bytes only, while code using SSE may
// keep 16-byte values on it. A procedure entered at each of the four
// alignments does its work (vectorisable loops, dates, number texts) and
// gives the same results as when entered normally: functions realign what
// they need (-mstackrealign, CMakeLists.txt).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "mdb/oadate.h"
#include "runtime/value.h"
#include "vorta/convert.h"

namespace {

// Work a window procedure might do, with arrays on its stack.
LRESULT CALLBACK Work(HWND, UINT msg, WPARAM w, LPARAM l) {
  int ints[64];
  double doubles[32];
  for (int i = 0; i < 64; ++i) ints[i] = i * static_cast<int>(w) + static_cast<int>(l);
  for (int i = 0; i < 32; ++i) doubles[i] = ints[i] * 0.25 + ints[63 - i] / 3.0;
  volatile int* keep = ints;  // the arrays stay in memory
  (void)keep;
  double oa = mdb::CivilToOa(mdb::CivilTime{2001, 12, 23, 14, 5, static_cast<int>(msg % 60)});
  std::string text = vorta::ToText(rt::Value::FromDate({oa})) + vorta::ToText(rt::Value::FromFloat(doubles[7]));
  double back = 0;
  mdb::ParseOaDate(mdb::FormatOaDate(oa), false, &back);
  uint64_t h = 1469598103934665603ull;
  auto mix = [&h](const void* p, size_t n) {
    for (size_t i = 0; i < n; ++i) h = (h ^ static_cast<const unsigned char*>(p)[i]) * 1099511628211ull;
  };
  mix(ints, sizeof ints);
  mix(doubles, sizeof doubles);
  mix(&back, sizeof back);
  mix(text.data(), text.size());
  return static_cast<LRESULT>(h ^ (h >> 32));
}

#if defined(__i386__)
struct Call {
  WNDPROC proc;
  HWND hwnd;
  UINT msg;
  WPARAM w;
  LPARAM l;
};

// Calls c->proc with the stack pointer SKEW bytes below a 16-byte boundary
// before the arguments are pushed: at entry it is 4, 8, 12 or 0 bytes off
// where GCC's own calls put it.
LRESULT CallSkewed(const Call* c, int skew) {
  LRESULT r;
  __asm__ volatile(
      "movl %%esp, %%edi\n\t"
      "andl $-16, %%esp\n\t"
      "subl %%edx, %%esp\n\t"
      "pushl 16(%%esi)\n\t"
      "pushl 12(%%esi)\n\t"
      "pushl 8(%%esi)\n\t"
      "pushl 4(%%esi)\n\t"
      "call *(%%esi)\n\t"
      "movl %%edi, %%esp\n\t"
      : "=a"(r), "+S"(c), "+d"(skew)
      :
      : "edi", "ecx", "memory", "cc");
  return r;
}

TEST(StackAlignment, CallbacksEnteredAtAnyFourByteAlignment) {
  for (UINT msg : {1u, 17u, 59u}) {
    Call c{Work, nullptr, msg, 3, 11};
    LRESULT expected = Work(nullptr, msg, 3, 11);
    for (int skew : {0, 4, 8, 12}) EXPECT_EQ(CallSkewed(&c, skew), expected) << "skew " << skew;
  }
}
#endif

LRESULT CALLBACK TestWindowProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_APP) return Work(h, 17, w, l);
  return DefWindowProcW(h, m, w, l);
}

LRESULT from_thread;
DWORD WINAPI TestThread(LPVOID) {
  from_thread = Work(nullptr, 59, 3, 11);
  return 0;
}

// The same through Windows itself: a window procedure and a thread start.
TEST(StackAlignment, ThroughWindowsCallbacks) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = TestWindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"usermgr-stack-test";
  ASSERT_NE(RegisterClassW(&wc), 0);
  HWND h = CreateWindowW(wc.lpszClassName, L"", 0, 0, 0, 10, 10, nullptr, nullptr, wc.hInstance, nullptr);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(SendMessageW(h, WM_APP, 3, 11), Work(nullptr, 17, 3, 11));
  DestroyWindow(h);
  UnregisterClassW(wc.lpszClassName, wc.hInstance);

  HANDLE t = CreateThread(nullptr, 0, TestThread, nullptr, 0, nullptr);
  ASSERT_NE(t, nullptr);
  WaitForSingleObject(t, INFINITE);
  CloseHandle(t);
  EXPECT_EQ(from_thread, Work(nullptr, 59, 3, 11));
}

}  // namespace
