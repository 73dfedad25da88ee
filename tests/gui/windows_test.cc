// The four windows as the runtime builds them from their definitions: sizes,
// control positions, captions and start values, the controls' values, the
// list views, the picture box and which events reach the handlers.
#include <windows.h>
#include <commctrl.h>
#include <objidl.h>
#include <gdiplus.h>

#include <gtest/gtest.h>

#include <cstdio>

#include <cmath>
#include <string>
#include <vector>

#include "mdb/oadate.h"
#include "tests/gui/gui_test_support.h"

namespace {

using guitest::ControlHwnd;
using guitest::Def;
using guitest::Pump;
using guitest::TakeEvents;
using guitest::Text;
using guitest::TopLevel;
using guitest::Wide;
using rt::ControlKind;
using rt::Prop;
using rt::WindowId;

struct Loaded {
  explicit Loaded(WindowId id) : id(id) {
    rt::LoadWindow(id, /*modal=*/false);
    Pump();
    hwnd = TopLevel(id);
  }
  ~Loaded() {
    rt::CloseWindow(id);
    Pump();
    guitest::QuitPosted();
    TakeEvents();
  }
  WindowId id;
  HWND hwnd;
};

int Scale(int v) {
  HDC dc = GetDC(nullptr);
  int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  return MulDiv(v, dpi, 96);
}

RECT ClientRectOf(HWND control) {
  RECT rc;
  GetWindowRect(control, &rc);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rc), 2);
  return rc;
}

// Every window: outer size, and each visual control where its definition puts
// it (group box children moved by the group box), with its caption.
class WindowLayout : public testing::TestWithParam<WindowId> {};

TEST_P(WindowLayout, MatchesItsDefinition) {
  const rt::WindowDef& def = Def(GetParam());
  Loaded w(GetParam());
  ASSERT_NE(w.hwnd, nullptr);
  EXPECT_TRUE(IsWindowVisible(w.hwnd));
  RECT outer;
  GetWindowRect(w.hwnd, &outer);
  EXPECT_EQ(outer.right - outer.left, Scale(def.width));
  EXPECT_EQ(outer.bottom - outer.top, Scale(def.height));
  EXPECT_EQ(outer.left, Scale(def.left));
  EXPECT_EQ(outer.top, Scale(def.top));
  EXPECT_EQ(Text(w.hwnd), Wide(def.title));

  for (int i = 0; i < def.control_count; ++i) {
    const rt::ControlDef& c = def.controls[i];
    HWND h = ControlHwnd(GetParam(), c.name);
    if (c.kind == ControlKind::CommonDialog || c.kind == ControlKind::Database) {
      EXPECT_EQ(h, nullptr) << "non-visual control " << i << " has a window";
      continue;
    }
    ASSERT_NE(h, nullptr) << "control " << i;
    EXPECT_TRUE(IsWindowVisible(h)) << "control " << i;
    int left = c.left, top = c.top;
    if (c.parent != nullptr) {
      const rt::ControlDef* group = rt::FindControlDef(def, c.parent);
      ASSERT_NE(group, nullptr);
      left += group->left;
      top += group->top;
    }
    RECT rc = ClientRectOf(h);
    EXPECT_EQ(rc.left, Scale(left)) << "control " << i;
    EXPECT_EQ(rc.top, Scale(top)) << "control " << i;
    EXPECT_EQ(rc.right - rc.left, Scale(c.width)) << "control " << i;
    EXPECT_EQ(rc.bottom - rc.top, Scale(c.height)) << "control " << i;
    bool has_caption = c.kind == ControlKind::Button || c.kind == ControlKind::Label ||
                       c.kind == ControlKind::CheckBox || c.kind == ControlKind::GroupBox ||
                       c.kind == ControlKind::Edit;
    if (has_caption) EXPECT_EQ(Text(h), Wide(c.caption)) << "control " << i;
    bool focus_stop = c.kind != ControlKind::Label && c.kind != ControlKind::PictureBox &&
                      c.kind != ControlKind::GroupBox;
    EXPECT_EQ((GetWindowLongW(h, GWL_STYLE) & WS_TABSTOP) != 0, focus_stop) << "control " << i;
  }
  const char* shots[] = {"", "main.png", "login.png", "stats.png", "admin.png"};
  EXPECT_TRUE(guitest::SaveScreenshot(w.hwnd, shots[static_cast<int>(GetParam())]));
}

INSTANTIATE_TEST_SUITE_P(AllWindows, WindowLayout,
                         testing::Values(WindowId::Main, WindowId::Login, WindowId::Stats, WindowId::Admin));

TEST(MainWindow, KnownPositions) {
  Loaded w(WindowId::Main);
  RECT label = ClientRectOf(ControlHwnd(WindowId::Main, "标签1"));
  EXPECT_EQ(label.left, Scale(16));
  EXPECT_EQ(label.top, Scale(24));
  RECT group = ClientRectOf(ControlHwnd(WindowId::Main, "分组框1"));
  EXPECT_EQ(group.top, Scale(8));
  EXPECT_EQ(group.bottom, Scale(208));
  RECT list = ClientRectOf(ControlHwnd(WindowId::Main, "超级列表框1"));
  EXPECT_EQ(list.top, Scale(248));
  EXPECT_EQ(list.bottom, Scale(376));
  // The window's created event ran once, after its controls existed.
  EXPECT_EQ(TakeEvents(), std::vector<std::string>{"用户管理.window.created"});
}

TEST(MainWindow, StartValues) {
  Loaded w(WindowId::Main);
  const rt::ControlRef name{WindowId::Main, "编辑框_姓名"};
  const rt::ControlRef profile{WindowId::Main, "编辑框_个人简介"};
  const rt::ControlRef sex{WindowId::Main, "组合框_性别"};
  const rt::ControlRef birth{WindowId::Main, "日期框_出生日期"};
  const rt::ControlRef fuzzy{WindowId::Main, "选择框1"};
  const rt::ControlRef picture{WindowId::Main, "图片框1"};
  const rt::ControlRef list{WindowId::Main, "超级列表框1"};
  EXPECT_EQ(rt::GetProperty(name, Prop::Text), rt::Value::FromText(""));
  EXPECT_EQ(rt::GetProperty(profile, Prop::Text), rt::Value::FromText(""));
  EXPECT_EQ(rt::GetProperty(sex, Prop::Text), rt::Value::FromText(""));
  EXPECT_EQ(rt::GetProperty(sex, Prop::Index), rt::Value::FromInt(-1));
  // Today, at midnight, before anything is written.
  EXPECT_EQ(rt::GetProperty(birth, Prop::Date), rt::Value::FromDate(rt::DateTime{mdb::TodayOa()}));
  EXPECT_EQ(rt::GetProperty(fuzzy, Prop::Checked), rt::Value::FromBool(false));
  EXPECT_EQ(rt::GetProperty(picture, Prop::Picture), rt::Value::FromBytes(""));
  EXPECT_LT(rt::GetProperty(list, Prop::CurrentRow).integer(), 0);
  EXPECT_EQ(rt::GetProperty(rt::ControlRef{WindowId::Main, "通用对话框1"}, Prop::FileName),
            rt::Value::FromText(""));

  HWND profile_box = ControlHwnd(WindowId::Main, "编辑框_个人简介");
  LONG style = GetWindowLongW(profile_box, GWL_STYLE);
  EXPECT_TRUE(style & ES_MULTILINE);
  EXPECT_TRUE(style & WS_VSCROLL);
  EXPECT_FALSE(GetWindowLongW(ControlHwnd(WindowId::Main, "编辑框_姓名"), GWL_STYLE) & ES_MULTILINE);
}

TEST(MainWindow, TitleAndTexts) {
  Loaded w(WindowId::Main);
  const rt::ControlRef window{WindowId::Main, ""};
  rt::SetProperty(window, Prop::Title, rt::Value::FromText("用户管理(当前用户:张三)"));
  EXPECT_EQ(Text(w.hwnd), Wide("用户管理(当前用户:张三)"));
  EXPECT_EQ(rt::GetProperty(window, Prop::Title), rt::Value::FromText("用户管理(当前用户:张三)"));

  const rt::ControlRef profile{WindowId::Main, "编辑框_个人简介"};
  rt::SetProperty(profile, Prop::Text, rt::Value::FromText("第一行\r\n第二行"));
  EXPECT_EQ(rt::GetProperty(profile, Prop::Text), rt::Value::FromText("第一行\r\n第二行"));
}

TEST(MainWindow, SexComboListsExactlyMaleThenFemale) {
  Loaded w(WindowId::Main);
  HWND combo = ControlHwnd(WindowId::Main, "组合框_性别");
  ASSERT_EQ(SendMessageW(combo, CB_GETCOUNT, 0, 0), 2);
  wchar_t item[16];
  SendMessageW(combo, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(item));
  EXPECT_EQ(std::wstring(item), Wide("男"));
  SendMessageW(combo, CB_GETLBTEXT, 1, reinterpret_cast<LPARAM>(item));
  EXPECT_EQ(std::wstring(item), Wide("女"));

  const rt::ControlRef sex{WindowId::Main, "组合框_性别"};
  rt::SetProperty(sex, Prop::Index, rt::Value::FromInt(0));
  EXPECT_EQ(rt::GetProperty(sex, Prop::Text), rt::Value::FromText("男"));
  rt::SetProperty(sex, Prop::Index, rt::Value::FromInt(1));
  EXPECT_EQ(rt::GetProperty(sex, Prop::Text), rt::Value::FromText("女"));
  EXPECT_EQ(rt::GetProperty(sex, Prop::Index), rt::Value::FromInt(1));
  // No such item: nothing selected.
  rt::SetProperty(sex, Prop::Index, rt::Value::FromInt(2));
  EXPECT_EQ(rt::GetProperty(sex, Prop::Index), rt::Value::FromInt(-1));
  EXPECT_EQ(rt::GetProperty(sex, Prop::Text), rt::Value::FromText(""));
  EXPECT_TRUE(TakeEvents().size() == 1);  // created only
}

TEST(MainWindow, DateBoxHoldsDatesAtMidnight) {
  Loaded w(WindowId::Main);
  const rt::ControlRef birth{WindowId::Main, "日期框_出生日期"};
  mdb::CivilTime t{1990, 5, 7, 14, 5, 9};
  rt::SetProperty(birth, Prop::Date, rt::Value::FromDate(rt::DateTime{mdb::CivilToOa(t)}));
  mdb::CivilTime midnight{1990, 5, 7, 0, 0, 0};
  EXPECT_EQ(rt::GetProperty(birth, Prop::Date), rt::Value::FromDate(rt::DateTime{mdb::CivilToOa(midnight)}));
  SYSTEMTIME st = {};
  SendMessageW(ControlHwnd(WindowId::Main, "日期框_出生日期"), DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&st));
  EXPECT_EQ(st.wYear, 1990);
  EXPECT_EQ(st.wMonth, 5);
  EXPECT_EQ(st.wDay, 7);
}

// Days before the calendar's first (1752-09-14) cannot be held by the
// control: the box shows the day as text and gives it back as its date until
// the operator picks another, so a form never writes a day nobody saw.
TEST(MainWindow, DateBoxShowsAndGivesBackDaysBeforeItsCalendar) {
  Loaded w(WindowId::Main);
  const rt::ControlRef birth{WindowId::Main, "日期框_出生日期"};
  HWND box = ControlHwnd(WindowId::Main, "日期框_出生日期");
  auto day = [](int y, int m, int d) { return rt::DateTime{mdb::CivilToOa(mdb::CivilTime{y, m, d, 0, 0, 0})}; };
  rt::SetProperty(birth, Prop::Date, rt::Value::FromDate(day(1990, 5, 7)));
  rt::SetProperty(birth, Prop::Date,
                  rt::Value::FromDate(rt::DateTime{mdb::CivilToOa(mdb::CivilTime{1700, 1, 1, 12, 0, 0})}));
  EXPECT_EQ(rt::GetProperty(birth, Prop::Date), rt::Value::FromDate(day(1700, 1, 1)));
  Pump(50);
  guitest::SaveScreenshot(TopLevel(WindowId::Main), "main-early-date.png");
  // The operator picks a day: the box is an ordinary one again.
  NMDATETIMECHANGE change = {};
  change.nmhdr.hwndFrom = box;
  change.nmhdr.idFrom = GetDlgCtrlID(box);
  change.nmhdr.code = DTN_DATETIMECHANGE;
  change.dwFlags = GDT_VALID;
  SendMessageW(GetParent(box), WM_NOTIFY, change.nmhdr.idFrom, reinterpret_cast<LPARAM>(&change));
  EXPECT_EQ(rt::GetProperty(birth, Prop::Date), rt::Value::FromDate(day(1752, 9, 14)));
  rt::SetProperty(birth, Prop::Date, rt::Value::FromDate(day(1600, 2, 29)));
  rt::SetProperty(birth, Prop::Date, rt::Value::FromDate(day(1985, 12, 1)));
  EXPECT_EQ(rt::GetProperty(birth, Prop::Date), rt::Value::FromDate(day(1985, 12, 1)));
  SYSTEMTIME st = {};
  SendMessageW(box, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&st));
  EXPECT_EQ(st.wYear, 1985);
}

TEST(MainWindow, CheckBox) {
  Loaded w(WindowId::Main);
  const rt::ControlRef fuzzy{WindowId::Main, "选择框1"};
  SendMessageW(ControlHwnd(WindowId::Main, "选择框1"), BM_CLICK, 0, 0);
  EXPECT_EQ(rt::GetProperty(fuzzy, Prop::Checked), rt::Value::FromBool(true));
  rt::SetProperty(fuzzy, Prop::Checked, rt::Value::FromBool(false));
  EXPECT_EQ(rt::GetProperty(fuzzy, Prop::Checked), rt::Value::FromBool(false));
  // Ticking it runs no handler.
  EXPECT_EQ(TakeEvents(), std::vector<std::string>{"用户管理.window.created"});
}

// ------------------------------------------------------------------ pictures

std::string Encode(const wchar_t* mime, int w, int h, Gdiplus::Color color) {
  Gdiplus::Bitmap bmp(w, h, PixelFormat24bppRGB);
  {
    Gdiplus::Graphics g(&bmp);
    Gdiplus::SolidBrush brush(color);
    g.FillRectangle(&brush, 0, 0, w, h);
  }
  UINT count = 0, size = 0;
  Gdiplus::GetImageEncodersSize(&count, &size);
  std::vector<char> buf(size);
  auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buf.data());
  Gdiplus::GetImageEncoders(count, size, codecs);
  for (UINT i = 0; i < count; ++i) {
    if (wcscmp(codecs[i].MimeType, mime) != 0) continue;
    IStream* stream = nullptr;
    CreateStreamOnHGlobal(nullptr, TRUE, &stream);
    bmp.Save(stream, &codecs[i].Clsid, nullptr);
    STATSTG stat = {};
    stream->Stat(&stat, STATFLAG_NONAME);
    std::string out(static_cast<size_t>(stat.cbSize.QuadPart), '\0');
    LARGE_INTEGER zero = {};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    ULONG read = 0;
    stream->Read(out.data(), static_cast<ULONG>(out.size()), &read);
    stream->Release();
    return out;
  }
  return "";
}

// A 1 x 1 GIF (written by hand: not every platform can encode GIF).
std::string OnePixelGif(uint8_t r, uint8_t g, uint8_t b) {
  std::string out("GIF89a\x01\x00\x01\x00\x80\x00\x00", 13);
  out += static_cast<char>(r), out += static_cast<char>(g), out += static_cast<char>(b);
  out.append("\0\0\0", 3);                                             // second colour
  out.append("\x2c\0\0\0\0\x01\0\x01\0\0", 10);                    // image descriptor
  out.append("\x02\x02\x44\x01\x00\x3b", 6);                         // pixel 0, trailer
  return out;
}

// A 16 x 16 icon file of one colour, 32 bits per pixel.
std::string Icon(uint8_t r, uint8_t g, uint8_t b) {
  std::string out;
  auto u16 = [&](uint16_t v) { out.append(reinterpret_cast<const char*>(&v), 2); };
  auto u32 = [&](uint32_t v) { out.append(reinterpret_cast<const char*>(&v), 4); };
  const uint32_t image_size = 40 + 16 * 16 * 4 + 16 * 4;
  u16(0), u16(1), u16(1);                                  // icon directory, one image
  out += static_cast<char>(16), out += static_cast<char>(16), out += '\0', out += '\0';
  u16(1), u16(32), u32(image_size), u32(6 + 16);           // entry
  u32(40), u32(16), u32(32), u16(1), u16(32), u32(0), u32(16 * 16 * 4), u32(0), u32(0), u32(0), u32(0);
  for (int i = 0; i < 16 * 16; ++i) out += static_cast<char>(b), out += static_cast<char>(g), out += static_cast<char>(r), out += '\xff';
  out.append(16 * 4, '\0');                                // AND mask: all shown
  return out;
}

COLORREF CentrePixel(HWND box) {
  RedrawWindow(box, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  Pump(100);
  RECT rc;
  GetClientRect(box, &rc);
  HDC dc = GetDC(box);
  COLORREF c = GetPixel(dc, rc.right / 2, rc.bottom / 2);
  ReleaseDC(box, dc);
  return c;
}

bool Near(COLORREF a, COLORREF b) {
  return std::abs(GetRValue(a) - GetRValue(b)) < 24 && std::abs(GetGValue(a) - GetGValue(b)) < 24 &&
         std::abs(GetBValue(a) - GetBValue(b)) < 24;
}

TEST(PictureBox, ShowsImagesAndGivesBackExactlyTheBytes) {
  Loaded w(WindowId::Main);
  const rt::ControlRef picture{WindowId::Main, "图片框1"};
  HWND box = ControlHwnd(WindowId::Main, "图片框1");
  const COLORREF empty = CentrePixel(box);
  struct Case {
    const char* what;
    std::string bytes;
  };
  const Gdiplus::Color red(255, 204, 0, 0);
  std::vector<Case> cases = {
      {"png", Encode(L"image/png", 60, 40, red)},
      {"bmp", Encode(L"image/bmp", 300, 500, red)},
      {"jpeg", Encode(L"image/jpeg", 33, 77, red)},
      {"gif", OnePixelGif(204, 0, 0)},
      {"ico", Icon(204, 0, 0)},
  };
  for (const Case& c : cases) {
    ASSERT_FALSE(c.bytes.empty()) << c.what;
    rt::SetProperty(picture, Prop::Picture, rt::Value::FromBytes(c.bytes));
    EXPECT_EQ(rt::GetProperty(picture, Prop::Picture), rt::Value::FromBytes(c.bytes)) << c.what;
    COLORREF shown = CentrePixel(box);
    EXPECT_TRUE(Near(shown, RGB(204, 0, 0)))
        << c.what << " is not shown: " << std::hex << shown << ", " << c.bytes.size() << " bytes starting "
        << c.bytes.substr(0, 6);
  }
  guitest::SaveScreenshot(w.hwnd, "main-with-picture.png");

  // Bytes that are no image are kept as they are and show an empty box.
  std::string junk("not a picture\0\x01\x02\xff", 18);
  rt::SetProperty(picture, Prop::Picture, rt::Value::FromBytes(junk));
  EXPECT_EQ(rt::GetProperty(picture, Prop::Picture), rt::Value::FromBytes(junk));
  EXPECT_EQ(CentrePixel(box), empty);
  // A truncated PNG too.
  std::string cut = cases[0].bytes.substr(0, cases[0].bytes.size() / 2);
  rt::SetProperty(picture, Prop::Picture, rt::Value::FromBytes(cut));
  EXPECT_EQ(rt::GetProperty(picture, Prop::Picture), rt::Value::FromBytes(cut));
  EXPECT_EQ(CentrePixel(box), empty);
  rt::SetProperty(picture, Prop::Picture, rt::Value::FromBytes(""));
  EXPECT_EQ(rt::GetProperty(picture, Prop::Picture), rt::Value::FromBytes(""));
}

TEST(PictureBox, KeepsProportionsAndCentres) {
  Loaded w(WindowId::Main);
  const rt::ControlRef picture{WindowId::Main, "图片框1"};
  HWND box = ControlHwnd(WindowId::Main, "图片框1");
  COLORREF empty = CentrePixel(box);
  // Tall and narrow: scaled to the box height, centred, empty at the sides.
  rt::SetProperty(picture, Prop::Picture,
                  rt::Value::FromBytes(Encode(L"image/png", 20, 400, Gdiplus::Color(255, 0, 0, 255))));
  RedrawWindow(box, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  Pump(100);
  RECT rc;
  GetClientRect(box, &rc);
  HDC dc = GetDC(box);
  COLORREF centre = GetPixel(dc, rc.right / 2, rc.bottom / 2);
  COLORREF top_centre = GetPixel(dc, rc.right / 2, 1);
  COLORREF left = GetPixel(dc, 2, rc.bottom / 2);
  ReleaseDC(box, dc);
  EXPECT_TRUE(Near(centre, RGB(0, 0, 255)));
  EXPECT_TRUE(Near(top_centre, RGB(0, 0, 255)));
  EXPECT_EQ(left, empty);
}

// --------------------------------------------------------------- list views

// A list view cell's text as the control shows it.
std::wstring CellText(HWND list, int row, int col) {
  wchar_t buf[64] = {};
  LVITEMW item = {};
  item.iSubItem = col;
  item.pszText = buf;
  item.cchTextMax = 64;
  SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
  return std::wstring(buf);
}

TEST(ListView, ColumnsAsDefined) {
  for (WindowId id : {WindowId::Main, WindowId::Stats, WindowId::Admin}) {
    Loaded w(id);
    const rt::ControlDef* def = rt::FindControlDef(Def(id), "超级列表框1");
    HWND list = ControlHwnd(id, "超级列表框1");
    LONG style = GetWindowLongW(list, GWL_STYLE);
    EXPECT_EQ(style & LVS_TYPEMASK, LVS_REPORT);
    EXPECT_TRUE(SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_FULLROWSELECT);
    HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    ASSERT_EQ(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0), def->column_count);
    for (int i = 0; i < def->column_count; ++i) {
      wchar_t caption[64] = {};
      LVCOLUMNW col = {};
      col.mask = LVCF_TEXT | LVCF_WIDTH;
      col.pszText = caption;
      col.cchTextMax = 64;
      ASSERT_TRUE(SendMessageW(list, LVM_GETCOLUMNW, i, reinterpret_cast<LPARAM>(&col)));
      EXPECT_EQ(std::wstring(caption), Wide(def->columns[i].caption));
      EXPECT_EQ(col.cx, Scale(def->columns[i].width));
    }
    EXPECT_EQ(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 0);
    EXPECT_LT(rt::GetProperty(rt::ControlRef{id, "超级列表框1"}, Prop::CurrentRow).integer(), 0);
  }
}

TEST(ListView, RowsAndRowValues) {
  Loaded w(WindowId::Stats);
  const rt::ControlRef list{WindowId::Stats, "超级列表框1"};
  EXPECT_EQ(rt::InsertItem(list, "张三", 17), 0);
  EXPECT_EQ(rt::InsertItem(list, "李四", -5), 1);
  EXPECT_EQ(rt::InsertItem(list, "王五", 2147483647), 2);
  rt::SetItemText(list, 1, 1, "男");
  rt::SetItemText(list, 1, 3, "简介");
  rt::SetItemText(list, 0, 3, "第一行\r\n第二行\n三\t四");
  rt::SetItemText(list, 1, 4, "no such column");
  rt::SetItemText(list, 7, 0, "no such row");
  EXPECT_EQ(rt::GetItemData(list, 0), 17);
  EXPECT_EQ(rt::GetItemData(list, 1), -5);
  EXPECT_EQ(rt::GetItemData(list, 2), 2147483647);
  EXPECT_EQ(rt::GetItemData(list, 3), 0);
  EXPECT_EQ(rt::GetItemData(list, -1), 0);

  HWND hwnd = ControlHwnd(WindowId::Stats, "超级列表框1");
  auto cell = [&](int row, int col) { return CellText(hwnd, row, col); };
  EXPECT_EQ(cell(1, 0), Wide("李四"));
  EXPECT_EQ(cell(1, 1), Wide("男"));
  EXPECT_EQ(cell(1, 3), Wide("简介"));
  EXPECT_EQ(cell(0, 3), Wide("第一行 第二行 三 四"));  // one line, each break one blank

  rt::DeleteItem(list, 0);  // the rows below move up
  EXPECT_EQ(SendMessageW(hwnd, LVM_GETITEMCOUNT, 0, 0), 2);
  EXPECT_EQ(rt::GetItemData(list, 0), -5);
  EXPECT_EQ(cell(0, 0), Wide("李四"));
  rt::DeleteItem(list, 9);
  rt::DeleteItem(list, -1);
  EXPECT_EQ(SendMessageW(hwnd, LVM_GETITEMCOUNT, 0, 0), 2);
  rt::DeleteAllItems(list);
  EXPECT_EQ(SendMessageW(hwnd, LVM_GETITEMCOUNT, 0, 0), 0);
  EXPECT_EQ(rt::InsertItem(list, "赵六", 1), 0);
  EXPECT_EQ(cell(0, 0), Wide("赵六"));
  EXPECT_EQ(cell(0, 1), L"");  // nothing left from the rows before
  EXPECT_EQ(rt::GetItemData(list, 0), 1);
}

// Rows past the first few thousand, deleted from the middle, and a shorter
// list filled in after them.
TEST(ListView, LongListsKeepEachRowsTexts) {
  Loaded w(WindowId::Main);
  const rt::ControlRef list{WindowId::Main, "超级列表框1"};
  HWND hwnd = ControlHwnd(WindowId::Main, "超级列表框1");
  auto cell = [&](int row, int col) { return CellText(hwnd, row, col); };
  const int kRows = 2500;
  for (int i = 0; i < kRows; ++i) {
    ASSERT_EQ(rt::InsertItem(list, "行" + std::to_string(i), i), i);
    rt::SetItemText(list, i, 2, std::to_string(i * 7));
  }
  rt::DeleteItem(list, 1000);
  EXPECT_EQ(SendMessageW(hwnd, LVM_GETITEMCOUNT, 0, 0), kRows - 1);
  for (int row : {0, 999, 1000, 1023, 1024, 2047, 2048, kRows - 2}) {
    int was = row < 1000 ? row : row + 1;
    EXPECT_EQ(cell(row, 0), Wide(("行" + std::to_string(was)).c_str())) << row;
    EXPECT_EQ(cell(row, 2), Wide(std::to_string(was * 7).c_str())) << row;
    EXPECT_EQ(rt::GetItemData(list, row), was) << row;
  }
  EXPECT_EQ(cell(kRows - 1, 0), L"");  // gone
  rt::DeleteAllItems(list);
  for (int i = 0; i < 3; ++i) rt::InsertItem(list, "新", 100 + i);
  EXPECT_EQ(SendMessageW(hwnd, LVM_GETITEMCOUNT, 0, 0), 3);
  EXPECT_EQ(cell(2, 0), Wide("新"));
  EXPECT_EQ(cell(2, 2), L"");
  EXPECT_EQ(rt::GetItemData(list, 2), 102);
  rt::DeleteAllItems(list);
}

// The rows live in the runtime and the control only shows them (a virtual
// list), which is what makes a fill of 100,000 rows fast; the time is printed
// for people, the benchmarks measure it.
TEST(ListView, HundredThousandRowsHeldByTheRuntime) {
  Loaded w(WindowId::Main);
  const rt::ControlRef list{WindowId::Main, "超级列表框1"};
  LARGE_INTEGER freq, t0, t1;
  QueryPerformanceFrequency(&freq);
  QueryPerformanceCounter(&t0);
  for (int i = 0; i < 100000; ++i) ASSERT_EQ(rt::InsertItem(list, "张三", i), i);
  Pump();  // the list paints once the fill is over
  UpdateWindow(ControlHwnd(WindowId::Main, "超级列表框1"));
  QueryPerformanceCounter(&t1);
  double seconds = static_cast<double>(t1.QuadPart - t0.QuadPart) / freq.QuadPart;
  std::printf("100000 rows appended and shown in %.3f s\n", seconds);
  HWND hwnd = ControlHwnd(WindowId::Main, "超级列表框1");
  EXPECT_NE(GetWindowLongW(hwnd, GWL_STYLE) & LVS_OWNERDATA, 0);
  EXPECT_EQ(SendMessageW(hwnd, LVM_GETITEMCOUNT, 0, 0), 100000);
  EXPECT_EQ(rt::GetItemData(list, 99999), 99999);
  rt::DeleteAllItems(list);
}

TEST(ListView, CurrentRowAndItsEvent) {
  Loaded w(WindowId::Main);
  TakeEvents();
  const rt::ControlRef list{WindowId::Main, "超级列表框1"};
  HWND hwnd = ControlHwnd(WindowId::Main, "超级列表框1");
  for (int i = 0; i < 5; ++i) rt::InsertItem(list, "行", 100 + i);
  Pump();
  EXPECT_LT(rt::GetProperty(list, Prop::CurrentRow).integer(), 0);
  EXPECT_TRUE(TakeEvents().empty());  // appending rows selects nothing

  LVITEMW item = {};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageW(hwnd, LVM_SETITEMSTATE, 3, reinterpret_cast<LPARAM>(&item));
  EXPECT_EQ(rt::GetProperty(list, Prop::CurrentRow), rt::Value::FromInt(3));
  EXPECT_EQ(TakeEvents(), std::vector<std::string>{"用户管理.超级列表框1.row-changed"});
  SendMessageW(hwnd, LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&item));
  EXPECT_EQ(rt::GetProperty(list, Prop::CurrentRow), rt::Value::FromInt(1));
  EXPECT_EQ(TakeEvents(), std::vector<std::string>{"用户管理.超级列表框1.row-changed"});

  // Emptying the list clears the current row without the event.
  rt::DeleteAllItems(list);
  EXPECT_LT(rt::GetProperty(list, Prop::CurrentRow).integer(), 0);
  EXPECT_TRUE(TakeEvents().empty());
}

// The control asks its window for rows when the user types in it: titles
// that begin with the letters, of either case, from the start row on; or a
// row value. Nothing found is -1, never row 0.
TEST(ListView, AnswersFindItemForTyping) {
  Loaded w(WindowId::Admin);
  const rt::ControlRef list{WindowId::Admin, "超级列表框1"};
  HWND hwnd = ControlHwnd(WindowId::Admin, "超级列表框1");
  rt::InsertItem(list, "Zhang", 10);
  rt::InsertItem(list, "李四", 20);
  rt::InsertItem(list, "zhao", 30);
  rt::InsertItem(list, "王五", 40);
  Pump();
  auto find = [&](int start, UINT flags, const std::wstring& text, LPARAM value = 0) {
    NMLVFINDITEMW nm = {};
    nm.hdr.hwndFrom = hwnd;
    nm.hdr.idFrom = GetDlgCtrlID(hwnd);
    nm.hdr.code = LVN_ODFINDITEMW;
    nm.iStart = start;
    nm.lvfi.flags = flags;
    nm.lvfi.psz = text.c_str();
    nm.lvfi.lParam = value;
    return static_cast<int>(
        SendMessageW(GetParent(hwnd), WM_NOTIFY, nm.hdr.idFrom, reinterpret_cast<LPARAM>(&nm)));
  };
  const UINT prefix = LVFI_STRING | LVFI_PARTIAL;
  EXPECT_EQ(find(0, prefix, L"zh"), 0);
  EXPECT_EQ(find(1, prefix, L"zh"), 2);
  EXPECT_EQ(find(3, prefix, L"zh"), -1);
  EXPECT_EQ(find(3, prefix | LVFI_WRAP, L"zh"), 0);
  EXPECT_EQ(find(9, prefix | LVFI_WRAP, L"ZHA"), 0);
  EXPECT_EQ(find(0, prefix, Wide("王")), 3);
  EXPECT_EQ(find(0, prefix | LVFI_WRAP, L"Q"), -1);
  EXPECT_EQ(find(0, LVFI_STRING, L"ZHAO"), 2);
  EXPECT_EQ(find(0, LVFI_STRING, L"zha"), -1);
  EXPECT_EQ(find(0, LVFI_PARAM, L"", 30), 2);
  EXPECT_EQ(find(0, LVFI_PARAM, L"", 31), -1);
  EXPECT_LT(rt::GetProperty(list, Prop::CurrentRow).integer(), 0);
}

TEST(ListView, ListsWithoutBindingRunNothing) {
  Loaded w(WindowId::Admin);
  TakeEvents();
  const rt::ControlRef list{WindowId::Admin, "超级列表框1"};
  rt::InsertItem(list, "admin", 1);
  LVITEMW item = {};
  item.stateMask = LVIS_SELECTED;
  item.state = LVIS_SELECTED;
  SendMessageW(ControlHwnd(WindowId::Admin, "超级列表框1"), LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&item));
  EXPECT_EQ(rt::GetProperty(list, Prop::CurrentRow), rt::Value::FromInt(0));
  EXPECT_TRUE(TakeEvents().empty());
}

// ------------------------------------------------------------------- events

TEST(Events, ButtonsRunTheirBindingOnly) {
  Loaded w(WindowId::Main);
  EXPECT_EQ(TakeEvents(), std::vector<std::string>{"用户管理.window.created"});
  const char* buttons[] = {"按钮1", "按钮2", "按钮3", "按钮4", "按钮5", "按钮6", "按钮7"};
  for (const char* b : buttons) {
    SendMessageW(ControlHwnd(WindowId::Main, b), BM_CLICK, 0, 0);
    EXPECT_EQ(TakeEvents(), std::vector<std::string>{std::string("用户管理.") + b + ".clicked"});
  }
  // Typing into an edit box runs nothing.
  SendMessageW(ControlHwnd(WindowId::Main, "编辑框_关键字"), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"abc"));
  EXPECT_TRUE(TakeEvents().empty());
}

TEST(Events, MainWindowCloseRequestThenDestroyThenLoopEnds) {
  {
    rt::LoadWindow(WindowId::Main, false);
    TakeEvents();
    HWND main = TopLevel(WindowId::Main);
    SendMessageW(main, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(main));  // the request is always granted
    EXPECT_EQ(TakeEvents(), (std::vector<std::string>{"用户管理.window.close-request", "用户管理.window.destroy"}));
    Pump();
    EXPECT_TRUE(guitest::QuitPosted());
  }
  // Other windows: closing them runs nothing and leaves the loop running.
  rt::LoadWindow(WindowId::Stats, false);
  HWND stats = TopLevel(WindowId::Stats);
  SendMessageW(stats, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(stats));
  Pump();
  EXPECT_FALSE(guitest::QuitPosted());
  EXPECT_TRUE(TakeEvents().empty());
}

// A modal window returns from LoadWindow once it has closed. Here Enter in
// the user-name box presses "登录", whose handler closes the window.
TEST(Events, ModalLoginAnswersEnterAndReturnsWhenClosed) {
  TakeEvents();
  guitest::CloseOnEvent("用户登录.按钮1.clicked");
  static bool typed = false;
  typed = false;
  guitest::After(200, [] {
    HWND user = ControlHwnd(WindowId::Login, "编辑框_用户名");
    if (user == nullptr) return;
    // The natural order: user name, password, 登录, 取消.
    HWND top = GetParent(user);
    HWND next = GetNextDlgTabItem(top, user, FALSE);
    EXPECT_EQ(next, ControlHwnd(WindowId::Login, "编辑框_密码"));
    next = GetNextDlgTabItem(top, next, FALSE);
    EXPECT_EQ(next, ControlHwnd(WindowId::Login, "按钮1"));
    next = GetNextDlgTabItem(top, next, FALSE);
    EXPECT_EQ(next, ControlHwnd(WindowId::Login, "按钮2"));
    // The password box masks its start text and gives it back unmasked.
    HWND password = ControlHwnd(WindowId::Login, "编辑框_密码");
    EXPECT_TRUE(GetWindowLongW(password, GWL_STYLE) & ES_PASSWORD);
    EXPECT_EQ(SendMessageW(password, EM_GETPASSWORDCHAR, 0, 0), L'*');
    EXPECT_EQ(rt::GetProperty(rt::ControlRef{WindowId::Login, "编辑框_密码"}, Prop::Text),
              rt::Value::FromText("580274"));
    EXPECT_EQ(rt::GetProperty(rt::ControlRef{WindowId::Login, "编辑框_用户名"}, Prop::Text),
              rt::Value::FromText("张三"));
    SetFocus(user);
    PostMessageW(user, WM_KEYDOWN, VK_RETURN, 1);
    PostMessageW(user, WM_KEYUP, VK_RETURN, 1 | (3u << 30));
    typed = true;
  });
  // A safety net: the test must not hang if Enter does nothing.
  guitest::After(5000, [] {
    rt::CloseWindow(WindowId::Login);
  });
  rt::LoadWindow(WindowId::Login, /*modal=*/true);
  guitest::CloseOnEvent("");
  EXPECT_TRUE(typed);
  EXPECT_EQ(TopLevel(WindowId::Login), nullptr);
  EXPECT_EQ(TakeEvents(), std::vector<std::string>{"用户登录.按钮1.clicked"});
}

TEST(Events, ModalWindowsAreBuiltAfreshAndCreatedEventRuns) {
  TakeEvents();
  guitest::After(300, [] {
    rt::InsertItem(rt::ControlRef{WindowId::Admin, "超级列表框1"}, "admin", 1);
    rt::CloseWindow(WindowId::Admin);
  });
  rt::LoadWindow(WindowId::Admin, true);
  EXPECT_EQ(TakeEvents(), std::vector<std::string>{"管理员.window.created"});
  guitest::After(300, [] {
    HWND list = ControlHwnd(WindowId::Admin, "超级列表框1");
    EXPECT_EQ(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 0);  // nothing kept from before
    rt::CloseWindow(WindowId::Admin);
  });
  rt::LoadWindow(WindowId::Admin, true);
  EXPECT_EQ(TakeEvents(), std::vector<std::string>{"管理员.window.created"});
}

TEST(Runtime, RunDirectoryHasNoTrailingBackslash) {
  rt::Text dir = rt::GetRunDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_NE(dir.back(), '\\');
  wchar_t exe[MAX_PATH];
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring expected(exe);
  expected.resize(expected.find_last_of(L'\\'));
  EXPECT_EQ(Wide(dir.c_str()), expected);
}

}  // namespace
