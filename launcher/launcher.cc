// The executable's entry point: finds the runtime library, beside the
// executable or in the installation folder named in the registry, asks it for
// its start function and hands that the program image.
#ifdef _WIN32
#include <windows.h>

#include <cstring>

#include "app/globals.h"
#include "vorta/win32/entry.h"

namespace {

const char kBesideName[] = "vorta.vlr";
const char kInstalledName[] = "vorta.vlb";
const char kInstallKey[] = "Software\\Orvalis\\Vell\\Install";
const char kPathValue[] = "Path";
const char kErrorText[] = "Not found the kernel library or the kernel library is invalid!";
const char kErrorCaption[] = "Error";

[[noreturn]] void Fail() {
  MessageBoxA(nullptr, kErrorText, kErrorCaption, MB_ICONERROR);
  ExitProcess(static_cast<UINT>(-1));
}

// Appends to the path buffer; false, with nothing written, when it would not
// fit.
bool Append(char* buffer, const char* tail) {
  size_t have = static_cast<size_t>(lstrlenA(buffer));
  if (have + std::strlen(tail) >= MAX_PATH) return false;
  lstrcatA(buffer, tail);
  return true;
}

HMODULE LoadBeside(char* path) {
  // The whole buffer: a path that fills it may have been cut short.
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) Fail();
  char* slash = std::strrchr(path, '\\');
  if (slash == nullptr) Fail();
  slash[1] = '\0';
  if (!Append(path, kBesideName)) return nullptr;  // try the installation instead
  return LoadLibraryA(path);
}

HMODULE LoadInstalled(char* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kInstallKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return nullptr;
  DWORD type = 0;
  DWORD size = MAX_PATH - 1;
  std::memset(path, 0, MAX_PATH);
  LONG rc = RegQueryValueExA(key, kPathValue, nullptr, &type, reinterpret_cast<BYTE*>(path), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return nullptr;
  path[size < MAX_PATH ? size : MAX_PATH - 1] = '\0';
  int len = lstrlenA(path);
  if ((len == 0 || path[len - 1] != '\\') && !Append(path, "\\")) return nullptr;
  if (!Append(path, kInstalledName)) return nullptr;
  return LoadLibraryA(path);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char path[MAX_PATH];
  path[0] = '\0';
  // Once the copy beside the executable has loaded there is no falling back.
  HMODULE runtime = LoadBeside(path);
  if (runtime == nullptr) runtime = LoadInstalled(path);
  if (runtime == nullptr) Fail();

  auto get_new_sock = reinterpret_cast<vorta::GetNewSockFunction>(
      reinterpret_cast<void*>(GetProcAddress(runtime, vorta::kEntryName)));
  void* start = get_new_sock != nullptr ? get_new_sock(vorta::kRuntimeVersion) : nullptr;
  if (start == nullptr) {
    FreeLibrary(runtime);
    Fail();
  }
  int code = reinterpret_cast<vorta::StartFunction>(start)(&app::ProgramImage());
  ExitProcess(static_cast<UINT>(code));
}
#endif
