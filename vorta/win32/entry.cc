#ifdef _WIN32
#include "vorta/win32/entry.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <ole2.h>
#include <gdiplus.h>

#include "vorta/win32/runtime_win32.h"

namespace vorta {

namespace {

int __stdcall Start(const rt::ProgramImage* image) {
  if (image == nullptr || image->magic != rt::kImageMagic || image->version != rt::kImageVersion ||
      image->entry == nullptr || image->set_runtime == nullptr || image->windows == nullptr) {
    return -1;
  }
  // The file dialog wants a single-threaded apartment.
  OleInitialize(nullptr);
  INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES |
                                               ICC_LISTVIEW_CLASSES | ICC_DATE_CLASSES};
  InitCommonControlsEx(&icc);
  Gdiplus::GdiplusStartupInput gdiplus_input;
  ULONG_PTR gdiplus_token = 0;
  Gdiplus::GdiplusStartup(&gdiplus_token, &gdiplus_input, nullptr);

  // Lives until the process ends: EndProgram leaves through ExitProcess.
  auto* runtime = new win::Win32Runtime(*image);
  if (!runtime->Init()) return -1;
  image->set_runtime(runtime);
  image->entry();
  runtime->EndProgram(0);
  return 0;  // not reached
}

}  // namespace

}  // namespace vorta

extern "C" __declspec(dllexport) void* __stdcall GetNewSock(uint32_t version) {
  if (version != vorta::kRuntimeVersion) return nullptr;
  vorta::StartFunction start = vorta::Start;
  return reinterpret_cast<void*>(start);
}
#endif
