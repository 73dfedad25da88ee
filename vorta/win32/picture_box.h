// The picture box: a child window that shows the bytes of an image file
// (BMP, JPEG, GIF, PNG, ICO) through GDI+, scaled to fit, centred and with
// its proportions kept. Bytes it cannot decode leave the box empty.
#pragma once

#ifdef _WIN32
#include <windows.h>

#include <string>

namespace vorta::win {

extern const wchar_t kPictureBoxClass[];

bool RegisterPictureBox(HINSTANCE instance);

// Decodes bytes and repaints; false when they are no image GDI+ can show.
bool ShowPicture(HWND box, const std::string& bytes);

}  // namespace vorta::win
#endif
