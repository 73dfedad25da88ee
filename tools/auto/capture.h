// A picture of a window as it is on screen, saved as PNG for people to look at.
#pragma once

#ifdef _WIN32
#include <windows.h>

#include <string>

namespace autodrv {

bool SaveWindowPng(HWND hwnd, const std::wstring& file, std::string* error);

}  // namespace autodrv
#endif
