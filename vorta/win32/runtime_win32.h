// The runtime on Windows: windows built from their definitions, controls,
// message loop, message boxes, the file dialog, list views and the database
// units, behind the rt::Runtime interface the handlers call.
#pragma once

#ifdef _WIN32
#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "runtime/runtime.h"
#include "vorta/dbunit.h"
#include "vorta/win32/list_view.h"

namespace vorta::win {

class Win32Runtime : public rt::Runtime {
 public:
  explicit Win32Runtime(const rt::ProgramImage& image);
  ~Win32Runtime() override;

  bool Init();  // window classes; false when the system refuses them

  void RegisterExitRoutine(void (*routine)()) override;
  void RunMessageLoop() override;
  [[noreturn]] void EndProgram(int exit_code) override;
  rt::Text GetRunDirectory() override;

  void LoadWindow(rt::WindowId window, bool modal) override;
  void CloseWindow(rt::WindowId window) override;
  rt::Value GetProperty(const rt::ControlRef& control, rt::Prop prop) override;
  bool SetProperty(const rt::ControlRef& control, rt::Prop prop, rt::Value value) override;
  int ShowMessage(const rt::Text& text, uint32_t flags) override;
  bool ShowFileDialog(const rt::ControlRef& dialog) override;

  void DeleteAllItems(const rt::ControlRef& list) override;
  int InsertItem(const rt::ControlRef& list, const rt::Text& title, int32_t row_value) override;
  void SetItemText(const rt::ControlRef& list, int row, int column, const rt::Text& text) override;
  int32_t GetItemData(const rt::ControlRef& list, int row) override;
  void DeleteItem(const rt::ControlRef& list, int row) override;

  bool OpenMdb(const rt::DbRef& db, const rt::Text& file, const rt::Text& password) override;
  void CloseDatabase(const rt::DbRef& db) override;
  int Query(const rt::DbRef& db, const rt::Text& sql) override;
  void MoveFirst(const rt::DbRef& db, int rs) override;
  void MoveNext(const rt::DbRef& db, int rs) override;
  bool IsAfterLast(const rt::DbRef& db, int rs) override;
  rt::Value ReadField(const rt::DbRef& db, int rs, const rt::Text& column) override;
  void CloseRecordSet(const rt::DbRef& db, int rs) override;
  bool ExecuteSql(const rt::DbRef& db, const rt::Text& sql, rt::Bytes* param) override;

  rt::Text ToText(rt::Value v) override;
  rt::DateTime ToDateTime(const rt::Value& v) override;
  rt::Bytes ToBinary(rt::Value v) override;
  int DatePart(rt::DateTime d, char part) override;
  rt::Bytes ReadFile(const rt::Text& file_name) override;
  int64_t FileSize(const rt::Text& file_name) override;

 private:
  struct Control {
    const rt::ControlDef* def = nullptr;
    HWND hwnd = nullptr;  // nullptr for the non-visual kinds
    int id = 0;
    rt::Bytes picture;                // picture box: exactly the bytes last set
    std::unique_ptr<ListView> list;   // list view
    // Date box: a day its calendar cannot show (before 1752-09-14) is kept
    // here, and shown as text, until the operator picks another.
    bool holds_day = false;
    rt::DateTime held_day;
  };
  struct Window {
    const rt::WindowDef* def = nullptr;
    HWND hwnd = nullptr;
    std::vector<Control> controls;
    bool destroyed = false;
    bool in_modal_loop = false;  // its LoadWindow still runs
  };
  // Non-visual state that outlives a window: the file dialog's last choice.
  using UnitKey = std::pair<rt::WindowId, std::string>;

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT HandleMessage(Window* w, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  rt::Value Property(const rt::ControlRef& control, rt::Prop prop);
  void SetDay(Control* box, rt::DateTime d);
  static void ReleaseDay(Control* box);

  bool CreateControls(Window* w);
  HWND CreateControl(Window* w, const rt::ControlDef& def, int id);
  void Fire(rt::Handler handler);
  bool PumpOne(MSG* msg);  // false on WM_QUIT
  HWND ActiveOwner();

  Window* FindLoaded(rt::WindowId id);
  Window* FindByHwnd(HWND hwnd);
  Control* Find(const rt::ControlRef& ref, rt::ControlKind kind);
  DatabaseUnit* Unit(const rt::DbRef& db);
  int Scale(int v) const { return MulDiv(v, dpi_, 96); }

  const rt::ProgramImage& image_;
  HINSTANCE instance_ = nullptr;
  HFONT font_ = nullptr;
  int dpi_ = 96;
  void (*exit_routine_)() = nullptr;
  bool exit_routine_ran_ = false;
  std::vector<std::unique_ptr<Window>> windows_;  // loaded, in load order
  std::map<UnitKey, std::unique_ptr<DatabaseUnit>> units_;
  std::map<UnitKey, rt::Text> file_names_;
  Control* last_found_ = nullptr;  // Find's last result, tried first for the same
  const char* last_found_name_ = nullptr;  // name text (the handlers' constant)
  rt::DbRef last_unit_ref_;              // Unit's last question and answer
  DatabaseUnit* last_unit_ = nullptr;
};

}  // namespace vorta::win
#endif
