// The executable's entry point: finds the runtime library, beside the
// executable or in the installation folder named in the registry, asks it for
// its start function and hands that the program image.
#ifdef _WIN32
#include <windows.h>

#include "app/globals.h"
#include "launcher/runtime_path.h"
#include "vorta/win32/entry.h"

namespace {

const char kErrorText[] = "Not found the kernel library or the kernel library is invalid!";
const char kErrorCaption[] = "Error";

[[noreturn]] void Fail() {
  MessageBoxA(nullptr, kErrorText, kErrorCaption, MB_ICONERROR);
  ExitProcess(static_cast<UINT>(-1));
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  wchar_t path[MAX_PATH];
  path[0] = L'\0';
  // Once the copy beside the executable has loaded there is no falling back.
  HMODULE runtime = launcher::BesidePath(nullptr, path) ? LoadLibraryW(path) : nullptr;
  if (runtime == nullptr && launcher::InstalledPath(path)) runtime = LoadLibraryW(path);
  if (runtime == nullptr) Fail();

  auto get_new_sock = reinterpret_cast<vorta::GetNewSockFunction>(
      reinterpret_cast<void*>(GetProcAddress(runtime, vorta::kEntryName)));
  void* start = get_new_sock != nullptr ? get_new_sock(vorta::kRuntimeVersion) : nullptr;
  if (start == nullptr) {
    FreeLibrary(runtime);
    Fail();
  }
  // Returns once the program has ended; anything but 0 says it never ran.
  if (reinterpret_cast<vorta::StartFunction>(start)(&app::ProgramImage()) != 0) Fail();
  ExitProcess(0);
}
#endif
