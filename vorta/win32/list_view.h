// The list view: a report-style common control whose rows live here, not in
// the control (owner data), so appending a row costs no more than storing
// it. The control asks for the texts of the rows it paints.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <commctrl.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "runtime/runtime.h"

namespace vorta::win {

class ListView {
 public:
  // Styles for creating the control (class WC_LISTVIEWW).
  static constexpr DWORD kStyle = LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_OWNERDATA;
  static constexpr DWORD kExStyle = WS_EX_CLIENTEDGE;

  // Takes over a control just created with the styles above: its columns as
  // defined, widths scaled to dpi.
  ListView(HWND hwnd, const rt::ControlDef& def, int dpi);
  ListView(const ListView&) = delete;
  ListView& operator=(const ListView&) = delete;

  void DeleteAllItems();
  int InsertItem(const rt::Text& title, int32_t row_value);  // index of the new row
  void SetItemText(int row, int column, const rt::Text& text);
  int32_t GetItemData(int row) const;  // 0 for a row that does not exist
  void DeleteItem(int row);

  int CurrentRow() const;  // negative when there is none
  void SetCurrentRow(int64_t row);

  // Notifications the control sends its parent.
  void OnGetDispInfo(NMLVDISPINFOW* di);
  // The row a search asks for (typing in the list looks for a title that
  // begins with the letters typed), or -1 when none matches. Unanswered, the
  // control would take row 0.
  int OnFindItem(const NMLVFINDITEMW& find) const;
  // Whether a change makes a row the selected one it was not before.
  static bool GainsSelection(const NMLISTVIEW& nm);

 private:
  // The cells keep the text the program gave, so only the rows on screen are
  // ever converted. Their bytes sit one after the other in large chunks
  // kept for the next fill, and a cell is where its bytes lie: a row costs
  // no allocation and about its texts' size (a million rows fit in some
  // 100 MB), a refill reuses the chunks.
  struct Model {
    struct Cell {
      uint32_t chunk = 0, offset = 0, size = 0;
    };
    static constexpr size_t kChunkBytes = 1 << 20;
    static constexpr size_t kBlockRows = 1024;  // cells in blocks that never move
    size_t columns = 1;
    std::vector<std::unique_ptr<Cell[]>> blocks;  // kBlockRows rows of cells each
    std::vector<int32_t> values;                  // one per row
    std::vector<std::unique_ptr<char[]>> chunks;
    std::vector<size_t> chunk_sizes;
    size_t chunk = 0, used = 0;  // where the next text goes
    bool count_pending = false;  // rows appended that the control has not been told of

    size_t rows() const { return values.size(); }
    Cell& slot(size_t row, size_t col) const { return blocks[row / kBlockRows][row % kBlockRows * columns + col]; }
    std::string_view cell(size_t row, size_t col) const {  // the cell's text
      const Cell& c = slot(row, col);
      return c.size == 0 ? std::string_view() : std::string_view(chunks[c.chunk].get() + c.offset, c.size);
    }
    void Set(size_t row, size_t col, std::string_view text);
    size_t Append(int32_t value);  // a row of empty cells; its number
    void Erase(size_t row);
    void Clear();  // every row gone; the chunks stay for the next fill
  };

  static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR ref);
  void FlushRows();

  HWND hwnd_;
  int column_count_;  // as defined
  Model model_;
};

}  // namespace vorta::win
#endif
