// Helpers for the window tests: the test image with recording handlers,
// finding windows and controls, pumping messages and saving screenshots.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "runtime/runtime.h"

namespace guitest {

// The program's window definitions with every bound handler replaced by a
// recorder. entry is the image's entry routine.
const rt::ProgramImage& TestImage(void (*entry)());

// Events recorded since the last call, as "WINDOW.SOURCE.EVENT" in UTF-8,
// e.g. "用户登录.按钮1.clicked" or "用户管理.window.created".
std::vector<std::string> TakeEvents();

// After an event with this name has been recorded, the window it belongs to
// is closed (empty: none).
void CloseOnEvent(const std::string& event);

const rt::WindowDef& Def(rt::WindowId id);
HWND TopLevel(rt::WindowId id);  // the loaded window, or nullptr
HWND ControlHwnd(rt::WindowId id, const char* gbk_name);
std::wstring Text(HWND hwnd);
std::wstring Wide(const char* gbk);

// Runs what is queued for this thread (without ending on WM_QUIT, which is
// remembered and taken away).
void Pump(int ms = 0);
bool QuitPosted();

bool SaveScreenshot(HWND hwnd, const std::string& name);

// Runs fn once, ms from now, from whichever message loop runs then (a modal
// window's, for instance).
void After(int ms, void (*fn)());

}  // namespace guitest
