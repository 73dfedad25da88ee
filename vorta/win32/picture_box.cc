#ifdef _WIN32
#include "vorta/win32/picture_box.h"

#include <objidl.h>
#include <gdiplus.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace vorta::win {

const wchar_t kPictureBoxClass[] = L"VortaPictureBox";

namespace {

struct BoxState {
  std::unique_ptr<Gdiplus::Bitmap> bitmap;  // decoded once, drawn on paint
};

BoxState* StateOf(HWND box) { return reinterpret_cast<BoxState*>(GetWindowLongPtrW(box, GWLP_USERDATA)); }

// A read-only stream over bytes that stay where they are: the decoder reads
// the photo the box holds instead of a copy of it.
class ByteStream final : public IStream {
 public:
  explicit ByteStream(const std::string& bytes) : bytes_(bytes) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_ISequentialStream || iid == IID_IStream) {
      *out = static_cast<IStream*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE Read(void* out, ULONG want, ULONG* got) override {
    size_t n = pos_ < bytes_.size() ? std::min<size_t>(want, bytes_.size() - pos_) : 0;
    if (n > 0) memcpy(out, bytes_.data() + pos_, n);
    pos_ += n;
    if (got != nullptr) *got = static_cast<ULONG>(n);
    return n == want ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG*) override { return STG_E_ACCESSDENIED; }
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* at) override {
    int64_t base = origin == STREAM_SEEK_SET ? 0
                   : origin == STREAM_SEEK_CUR ? static_cast<int64_t>(pos_)
                   : origin == STREAM_SEEK_END ? static_cast<int64_t>(bytes_.size())
                                               : -1;
    if (base < 0 || base + move.QuadPart < 0) return STG_E_INVALIDFUNCTION;
    pos_ = static_cast<size_t>(base + move.QuadPart);
    if (at != nullptr) at->QuadPart = pos_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return STG_E_ACCESSDENIED; }
  HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Revert() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }
  HRESULT STDMETHODCALLTYPE Stat(STATSTG* st, DWORD) override {
    if (st == nullptr) return E_POINTER;
    *st = {};
    st->type = STGTY_STREAM;
    st->cbSize.QuadPart = bytes_.size();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IStream** out) override {
    if (out == nullptr) return E_POINTER;
    auto* copy = new (std::nothrow) ByteStream(bytes_);
    if (copy == nullptr) return E_OUTOFMEMORY;
    copy->pos_ = pos_;
    *out = copy;
    return S_OK;
  }

 private:
  ~ByteStream() = default;
  const std::string& bytes_;
  size_t pos_ = 0;
  ULONG refs_ = 1;
};

// The box draws at most this many pixels across: a photo's own size is kept
// only up to what a box could ever show, so a large photo costs little
// memory once decoded.
constexpr UINT kMaxDrawnSide = 1024;

// Decodes into a bitmap of our own so the decoder can go at once and bad
// bytes show up here rather than at paint time.
std::unique_ptr<Gdiplus::Bitmap> Decode(const std::string& bytes) {
  if (bytes.empty()) return nullptr;
  auto* stream = new (std::nothrow) ByteStream(bytes);
  if (stream == nullptr) return nullptr;
  std::unique_ptr<Gdiplus::Bitmap> out;
  {
    Gdiplus::Image image(stream);
    UINT w = image.GetWidth(), h = image.GetHeight();
    if (image.GetLastStatus() == Gdiplus::Ok && w > 0 && h > 0) {
      double scale = std::min(1.0, static_cast<double>(kMaxDrawnSide) / std::max(w, h));
      INT dw = std::max(1, static_cast<INT>(w * scale + 0.5)), dh = std::max(1, static_cast<INT>(h * scale + 0.5));
      auto bitmap = std::make_unique<Gdiplus::Bitmap>(dw, dh, PixelFormat32bppPARGB);
      if (bitmap && bitmap->GetLastStatus() == Gdiplus::Ok) {
        Gdiplus::Graphics g(bitmap.get());
        g.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
        if (g.DrawImage(&image, 0, 0, dw, dh) == Gdiplus::Ok) out = std::move(bitmap);
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
