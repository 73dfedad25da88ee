#ifdef _WIN32
#include "vorta/win32/picture_box.h"

#include <objidl.h>
#include <gdiplus.h>

#include <memory>

namespace vorta::win {

const wchar_t kPictureBoxClass[] = L"VortaPictureBox";

namespace {

struct BoxState {
  std::unique_ptr<Gdiplus::Bitmap> bitmap;  // decoded once, drawn on paint
};

BoxState* StateOf(HWND box) { return reinterpret_cast<BoxState*>(GetWindowLongPtrW(box, GWLP_USERDATA)); }

// Decodes into a bitmap of our own so the stream can go at once and bad
// bytes show up here rather than at paint time.
std::unique_ptr<Gdiplus::Bitmap> Decode(const std::string& bytes) {
  if (bytes.empty()) return nullptr;
  HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  if (mem == nullptr) return nullptr;
  void* p = GlobalLock(mem);
  memcpy(p, bytes.data(), bytes.size());
  GlobalUnlock(mem);
  IStream* stream = nullptr;
  if (FAILED(CreateStreamOnHGlobal(mem, TRUE, &stream))) {
    GlobalFree(mem);
    return nullptr;
  }
  std::unique_ptr<Gdiplus::Bitmap> out;
  {
    Gdiplus::Image image(stream);
    UINT w = image.GetWidth(), h = image.GetHeight();
    if (image.GetLastStatus() == Gdiplus::Ok && w > 0 && h > 0 && w <= 20000 && h <= 20000) {
      auto bitmap = std::make_unique<Gdiplus::Bitmap>(static_cast<INT>(w), static_cast<INT>(h),
                                                      PixelFormat32bppPARGB);
      if (bitmap->GetLastStatus() == Gdiplus::Ok) {
        Gdiplus::Graphics g(bitmap.get());
        if (g.DrawImage(&image, 0, 0, static_cast<INT>(w), static_cast<INT>(h)) == Gdiplus::Ok)
          out = std::move(bitmap);
      }
    }
  }
  stream->Release();
  return out;
}

void Paint(HWND box) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(box, &ps);
  RECT rc;
  GetClientRect(box, &rc);
  FillRect(dc, &rc, GetSysColorBrush(COLOR_WINDOW));
  BoxState* state = StateOf(box);
  if (state != nullptr && state->bitmap) {
    double bw = state->bitmap->GetWidth(), bh = state->bitmap->GetHeight();
    double cw = rc.right - rc.left, ch = rc.bottom - rc.top;
    double scale = std::min(cw / bw, ch / bh);
    int w = static_cast<int>(bw * scale + 0.5), h = static_cast<int>(bh * scale + 0.5);
    int x = static_cast<int>((cw - w) / 2), y = static_cast<int>((ch - h) / 2);
    Gdiplus::Graphics g(dc);
    g.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
    g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHighQuality);
    // Edge pixels repeat outwards, so scaling up does not fade the borders.
    Gdiplus::ImageAttributes attributes;
    attributes.SetWrapMode(Gdiplus::WrapModeTileFlipXY);
    g.DrawImage(state->bitmap.get(), Gdiplus::Rect(x, y, w, h), 0, 0, static_cast<INT>(bw), static_cast<INT>(bh),
                Gdiplus::UnitPixel, &attributes);
  }
  EndPaint(box, &ps);
}

LRESULT CALLBACK PictureBoxProc(HWND box, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_NCCREATE:
      SetWindowLongPtrW(box, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new BoxState));
      break;
    case WM_NCDESTROY:
      delete StateOf(box);
      SetWindowLongPtrW(box, GWLP_USERDATA, 0);
      break;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      Paint(box);
      return 0;
  }
  return DefWindowProcW(box, msg, wp, lp);
}

}  // namespace

bool RegisterPictureBox(HINSTANCE instance) {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = PictureBoxProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.lpszClassName = kPictureBoxClass;
  return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

bool ShowPicture(HWND box, const std::string& bytes) {
  BoxState* state = StateOf(box);
  if (state == nullptr) return false;
  state->bitmap = Decode(bytes);
  InvalidateRect(box, nullptr, TRUE);
  return state->bitmap != nullptr;
}

}  // namespace vorta::win
#endif
