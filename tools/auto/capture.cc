#ifdef _WIN32
#include "tools/auto/capture.h"

#include <objidl.h>
#include <gdiplus.h>

#include <vector>

namespace autodrv {

namespace {

bool PngEncoder(CLSID* out) {
  UINT count = 0, size = 0;
  if (Gdiplus::GetImageEncodersSize(&count, &size) != Gdiplus::Ok || size == 0) return false;
  std::vector<char> buf(size);
  auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buf.data());
  if (Gdiplus::GetImageEncoders(count, size, codecs) != Gdiplus::Ok) return false;
  for (UINT i = 0; i < count; ++i)
    if (wcscmp(codecs[i].MimeType, L"image/png") == 0) {
      *out = codecs[i].Clsid;
      return true;
    }
  return false;
}

}  // namespace

bool SaveWindowPng(HWND hwnd, const std::wstring& file, std::string* error) {
  RECT rc;
  if (!GetWindowRect(hwnd, &rc) || rc.right <= rc.left || rc.bottom <= rc.top) {
    *error = "the window has no area on screen";
    return false;
  }
  int w = rc.right - rc.left, h = rc.bottom - rc.top;
  // Copy from the screen: what the user sees, message boxes on top included.
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
  HGDIOBJ old = SelectObject(mem, bmp);
  BitBlt(mem, 0, 0, w, h, screen, rc.left, rc.top, SRCCOPY | CAPTUREBLT);
  SelectObject(mem, old);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);

  bool ok = false;
  {
    Gdiplus::Bitmap picture(bmp, nullptr);
    CLSID png;
    if (!PngEncoder(&png))
      *error = "no PNG encoder";
    else if (picture.Save(file.c_str(), &png, nullptr) != Gdiplus::Ok)
      *error = "cannot write the file";
    else
      ok = true;
  }
  DeleteObject(bmp);
  return ok;
}

}  // namespace autodrv
#endif
