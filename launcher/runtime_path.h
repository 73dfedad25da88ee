// Where the launcher looks for the runtime library: beside the executable,
// else in the installation folder the registry names. Paths are wide, so a
// folder named in any language works whatever the system's ANSI code page
// holds; each is built in one buffer of MAX_PATH characters, and a path that
// does not fit is not tried.
#pragma once

#ifdef _WIN32
#include <windows.h>

#include <cstring>

namespace launcher {

inline const wchar_t kBesideName[] = L"vorta.vlr";
inline const wchar_t kInstalledName[] = L"vorta.vlb";
inline const wchar_t kInstallKey[] = L"Software\\Orvalis\\Vell\\Install";
inline const wchar_t kPathValue[] = L"Path";

// Appends to the buffer; false, with nothing written, when it would not fit.
inline bool Append(wchar_t* path, const wchar_t* tail) {
  size_t have = static_cast<size_t>(lstrlenW(path));
  if (have + static_cast<size_t>(lstrlenW(tail)) >= MAX_PATH) return false;
  lstrcatW(path, tail);
  return true;
}

// The copy beside module's file; false when its path fills the buffer (it
// may have been cut short) or the name does not fit after it.
inline bool BesidePath(HMODULE module, wchar_t* path) {
  DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return false;
  path[n] = L'\0';
  wchar_t* slash = nullptr;
  for (wchar_t* p = path; *p != L'\0'; ++p)
    if (*p == L'\\') slash = p;
  if (slash == nullptr) return false;
  slash[1] = L'\0';
  return Append(path, kBesideName);
}

// The installed copy: the registry's folder, one backslash, the name; false
// when the key or value is missing or the path does not fit.
inline bool InstalledPath(wchar_t* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kInstallKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD type = 0;
  DWORD size = (MAX_PATH - 1) * sizeof(wchar_t);
  std::memset(path, 0, MAX_PATH * sizeof(wchar_t));
  LONG rc = RegQueryValueExW(key, kPathValue, nullptr, &type, reinterpret_cast<BYTE*>(path), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
  path[MAX_PATH - 1] = L'\0';
  int len = lstrlenW(path);
  if ((len == 0 || path[len - 1] != L'\\') && !Append(path, L"\\")) return false;
  return Append(path, kInstalledName);
}

}  // namespace launcher
#endif
