#ifdef _WIN32
#include "vorta/win32/list_view.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "vorta/win32/wide.h"

namespace vorta::win {

namespace {

#ifndef LVFI_SUBSTRING
constexpr UINT LVFI_SUBSTRING = 0x0004;  // newer headers: the same as LVFI_PARTIAL
#endif

// Posted to a list view after rows were appended: tells it the row count once
// the handler has returned, if nothing else has done so by then.
constexpr UINT kFlushRows = WM_APP + 1;

}  // namespace

ListView::ListView(HWND hwnd, const rt::ControlDef& def, int dpi) : hwnd_(hwnd), column_count_(def.column_count) {
  DWORD lv_ex = LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_DOUBLEBUFFER;
  SendMessageW(hwnd_, LVM_SETEXTENDEDLISTVIEWSTYLE, lv_ex, lv_ex);
  for (int i = 0; i < def.column_count; ++i) {
    std::wstring text = Wide(def.columns[i].caption);
    LVCOLUMNW col = {};
    col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    col.pszText = text.data();
    col.cx = MulDiv(def.columns[i].width, dpi, 96);
    col.iSubItem = i;
    SendMessageW(hwnd_, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&col));
  }
  model_.columns = static_cast<size_t>(std::max(def.column_count, 1));
  SetWindowSubclass(hwnd_, SubclassProc, 1, reinterpret_cast<DWORD_PTR>(this));
}

LRESULT CALLBACK ListView::SubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR ref) {
  auto* list = reinterpret_cast<ListView*>(ref);
  // Whatever reaches the control, from the program or from outside, sees
  // every row appended so far.
  if (msg != LVM_SETITEMCOUNT && list->model_.count_pending) list->FlushRows();
  if (msg == kFlushRows) return 0;
  if (msg == WM_NCDESTROY) RemoveWindowSubclass(hwnd, SubclassProc, id);
  return DefSubclassProc(hwnd, msg, wp, lp);
}

size_t ListView::Model::Append(int32_t value) {
  size_t row = values.size();
  if (row / kBlockRows == blocks.size()) blocks.push_back(std::make_unique<Cell[]>(kBlockRows * columns));
  for (size_t col = 0; col < columns; ++col) slot(row, col) = Cell();
  values.push_back(value);
  return row;
}

void ListView::Model::Set(size_t row, size_t col, std::string_view text) {
  Cell& c = slot(row, col);
  if (text.size() <= c.size) {  // the old room takes it (a cell set again)
    if (!text.empty()) std::memcpy(chunks[c.chunk].get() + c.offset, text.data(), text.size());
    c.size = static_cast<uint32_t>(text.size());
    return;
  }
  // The next chunk with room, made when there is none; a text larger than a
  // chunk gets one of its own size.
  while (chunk < chunks.size() && chunk_sizes[chunk] - used < text.size()) {
    ++chunk;
    used = 0;
  }
  if (chunk == chunks.size()) {
    size_t size = std::max(kChunkBytes, text.size());
    chunks.emplace_back(new char[size]);
    chunk_sizes.push_back(size);
    used = 0;
  }
  std::memcpy(chunks[chunk].get() + used, text.data(), text.size());
  c.chunk = static_cast<uint32_t>(chunk);
  c.offset = static_cast<uint32_t>(used);
  c.size = static_cast<uint32_t>(text.size());
  used += text.size();
}

void ListView::Model::Erase(size_t row) {
  for (size_t r = row; r + 1 < rows(); ++r)
    for (size_t col = 0; col < columns; ++col) slot(r, col) = slot(r + 1, col);
  values.erase(values.begin() + static_cast<ptrdiff_t>(row));
}

void ListView::Model::Clear() {
  values.clear();
  chunk = 0;
  used = 0;
}

void ListView::FlushRows() {
  model_.count_pending = false;
  SendMessageW(hwnd_, LVM_SETITEMCOUNT, model_.rows(), LVSICF_NOSCROLL);
  InvalidateRect(hwnd_, nullptr, TRUE);
}

void ListView::DeleteAllItems() {
  model_.Clear();
  model_.count_pending = false;
  SendMessageW(hwnd_, LVM_DELETEALLITEMS, 0, 0);
  SendMessageW(hwnd_, LVM_SETITEMCOUNT, 0, 0);
}

int ListView::InsertItem(const rt::Text& title, int32_t row_value) {
  size_t row = model_.Append(row_value);
  model_.Set(row, 0, title);
  if (!model_.count_pending) {
    model_.count_pending = true;
    PostMessageW(hwnd_, kFlushRows, 0, 0);
  }
  return static_cast<int>(row);
}

void ListView::SetItemText(int row, int column, const rt::Text& text) {
  if (row < 0 || column < 0 || column >= column_count_) return;
  if (static_cast<size_t>(row) >= model_.rows()) return;
  model_.Set(static_cast<size_t>(row), static_cast<size_t>(column), text);
  // Rows not yet shown are painted with the whole list later.
  if (!model_.count_pending) SendMessageW(hwnd_, LVM_REDRAWITEMS, row, row);
}

int32_t ListView::GetItemData(int row) const {
  if (row < 0 || static_cast<size_t>(row) >= model_.rows()) return 0;
  return model_.values[row];
}

void ListView::DeleteItem(int row) {
  if (row < 0 || static_cast<size_t>(row) >= model_.rows()) return;
  if (model_.count_pending) FlushRows();
  model_.Erase(static_cast<size_t>(row));
  // The control moves its selection up with the rows.
  SendMessageW(hwnd_, LVM_DELETEITEM, static_cast<WPARAM>(row), 0);
}

int ListView::CurrentRow() const {
  LRESULT i = SendMessageW(hwnd_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED);
  return i < 0 ? -1 : static_cast<int>(i);
}

void ListView::SetCurrentRow(int64_t row) {
  LVITEMW item = {};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = 0;
  SendMessageW(hwnd_, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&item));
  LRESULT count = SendMessageW(hwnd_, LVM_GETITEMCOUNT, 0, 0);
  if (row >= 0 && row < count) {
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(hwnd_, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    SendMessageW(hwnd_, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
  }
}

void ListView::OnGetDispInfo(NMLVDISPINFOW* di) {
  if (!(di->item.mask & LVIF_TEXT) || di->item.pszText == nullptr || di->item.cchTextMax <= 0) return;
  std::wstring text;
  size_t row = static_cast<size_t>(di->item.iItem), col = static_cast<size_t>(di->item.iSubItem);
  if (di->item.iItem >= 0 && row < model_.rows() && col < model_.columns) text = Wide(model_.cell(row, col));
  // A cell is one line: a line break (a profile's) shows as one blank, not
  // as the boxes of characters the font has no glyph for.
  size_t n = 0;
  const size_t room = static_cast<size_t>(di->item.cchTextMax - 1);
  for (size_t i = 0; i < text.size() && n < room; ++i) {
    wchar_t ch = text[i];
    if (ch == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') ++i;
    di->item.pszText[n++] = (ch == L'\r' || ch == L'\n' || ch == L'\t') ? L' ' : ch;
  }
  di->item.pszText[n] = L'\0';
}

int ListView::OnFindItem(const NMLVFINDITEMW& find) const {
  const LVFINDINFOW& fi = find.lvfi;
  const size_t rows = model_.rows();
  bool by_value = (fi.flags & LVFI_PARAM) != 0;
  bool by_text = !by_value && (fi.flags & (LVFI_STRING | LVFI_PARTIAL | LVFI_SUBSTRING)) && fi.psz != nullptr;
  if (rows == 0 || (!by_value && !by_text)) return -1;
  bool wrap = (fi.flags & LVFI_WRAP) != 0;
  size_t start = find.iStart > 0 ? static_cast<size_t>(find.iStart) : 0;
  if (start >= rows) {
    if (!wrap) return -1;
    start = 0;
  }
  // Titles begin with the text (partial) or equal it, letters of either case
  // alike, as the control compares its own rows.
  bool prefix = (fi.flags & (LVFI_PARTIAL | LVFI_SUBSTRING)) != 0;
  const int key_length = by_text ? lstrlenW(fi.psz) : 0;
  size_t count = wrap ? rows : rows - start;
  for (size_t k = 0; k < count; ++k) {
    size_t row = (start + k) % rows;
    if (by_value) {
      if (model_.values[row] == static_cast<int32_t>(fi.lParam)) return static_cast<int>(row);
      continue;
    }
    std::wstring title = Wide(model_.cell(row, 0));
    int length = static_cast<int>(title.size());
    if (prefix ? length < key_length : length != key_length) continue;
    if (CompareStringOrdinal(title.c_str(), key_length, fi.psz, key_length, TRUE) == CSTR_EQUAL)
      return static_cast<int>(row);
  }
  return -1;
}

bool ListView::GainsSelection(const NMLISTVIEW& nm) {
  return (nm.uChanged & LVIF_STATE) && (nm.uNewState & LVIS_SELECTED) && !(nm.uOldState & LVIS_SELECTED) &&
         nm.iItem >= 0;
}

}  // namespace vorta::win
#endif
