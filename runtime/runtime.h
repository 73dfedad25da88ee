// The runtime library's services as the program's handlers call them.
//
// The free functions below forward to the Runtime that the runtime library
// installed when it started the program (SetRuntime). The Windows build gets
// its Runtime from vorta.vlr; tests install one of their own.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <utility>

#include "runtime/value.h"
#include "runtime/windef.h"

namespace rt {

// A control is addressed by its window and its name. Names are texts
// unique within their window only.
struct ControlRef {
  WindowId window;
  const char* name;
};

// The database unit `外部数据库1` of a window (window identity plus unit).
struct DbRef {
  WindowId window = WindowId::None;
  const char* name = nullptr;
  bool valid() const { return window != WindowId::None && name != nullptr; }
};

// Properties that GetProperty and SetProperty understand, by control kind:
//   Title       window                text
//   Text        edit box, combo box   text (combo: the displayed text)
//   Index       combo box             integer, the selected item, -1 for none
//   Date        date box              date-time
//   Picture     picture box           byte block: exactly the bytes last set
//   Checked     check box             yes/no
//   CurrentRow  list view             integer, negative when no row is current
//   FileName    common dialog         text, the full path chosen
// A property that could not be read for lack of memory reads as an Error
// value; SetProperty gives false when it could not set one (the control is
// unchanged then). Values are taken by value: a photo given as a temporary is
// moved into the picture box, not copied.
enum class Prop : uint8_t { Title, Text, Index, Date, Picture, Checked, CurrentRow, FileName };

// Message-box flags the program uses and the buttons a box can return.
constexpr uint32_t kIconError = 0x10;
constexpr uint32_t kIconQuestion = 0x20;
constexpr uint32_t kIconInformation = 0x40;
constexpr uint32_t kYesNo = 0x04;
constexpr int kIdOk = 1;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

class Runtime {
 public:
  virtual ~Runtime() = default;

  // Lifetime.
  virtual void RegisterExitRoutine(void (*routine)()) = 0;
  virtual void RunMessageLoop() = 0;
  [[noreturn]] virtual void EndProgram(int exit_code) = 0;
  virtual Text GetRunDirectory() = 0;

  // Windows and controls.
  virtual void LoadWindow(WindowId window, bool modal) = 0;
  virtual void CloseWindow(WindowId window) = 0;
  virtual Value GetProperty(const ControlRef& control, Prop prop) = 0;
  virtual bool SetProperty(const ControlRef& control, Prop prop, Value value) = 0;
  virtual int ShowMessage(const Text& text, uint32_t flags) = 0;
  virtual bool ShowFileDialog(const ControlRef& dialog) = 0;

  // List views. A negative or out-of-range row changes nothing and reads 0.
  // InsertItem gives -1 when it could not add the row (too little memory).
  virtual void DeleteAllItems(const ControlRef& list) = 0;
  virtual int InsertItem(const ControlRef& list, const Text& title, int32_t row_value) = 0;
  virtual void SetItemText(const ControlRef& list, int row, int column, const Text& text) = 0;
  virtual int32_t GetItemData(const ControlRef& list, int row) = 0;
  virtual void DeleteItem(const ControlRef& list, int row) = 0;

  // The database unit. Record sets are numbered from 1; 0 means failure.
  // ReadField gives an Error value for a field it could not read (a damaged
  // or unreadable file, too little memory); a record set whose move failed
  // has one more record whose fields read so, then ends. ExecuteSql's byte
  // block fills the one "?"; it is lent for the call, unchanged afterwards.
  virtual bool OpenMdb(const DbRef& db, const Text& file, const Text& password) = 0;
  virtual void CloseDatabase(const DbRef& db) = 0;
  virtual int Query(const DbRef& db, const Text& sql) = 0;
  virtual void MoveFirst(const DbRef& db, int rs) = 0;
  virtual void MoveNext(const DbRef& db, int rs) = 0;
  virtual bool IsAfterLast(const DbRef& db, int rs) = 0;
  virtual Value ReadField(const DbRef& db, int rs, const Text& column) = 0;
  virtual void CloseRecordSet(const DbRef& db, int rs) = 0;
  virtual bool ExecuteSql(const DbRef& db, const Text& sql, Bytes* param) = 0;

  // Conversions and file reading (vorta/convert.h is the one implementation).
  // A text or byte block given as a temporary is moved, not copied.
  virtual Text ToText(Value v) = 0;
  virtual DateTime ToDateTime(const Value& v) = 0;
  virtual Bytes ToBinary(Value v) = 0;
  virtual int DatePart(DateTime d, char part) = 0;  // 'y','m','d','h','n','s'
  virtual Bytes ReadFile(const Text& file_name) = 0;
  // The file's size in bytes, or -1 when it is no file that can be read.
  virtual int64_t FileSize(const Text& file_name) = 0;
};

// Installs the runtime the free functions use. The runtime library calls it
// through the program image before it runs the entry routine.
void SetRuntime(Runtime* runtime);
Runtime& Current();

inline void RegisterExitRoutine(void (*routine)()) { Current().RegisterExitRoutine(routine); }
inline void RunMessageLoop() { Current().RunMessageLoop(); }
[[noreturn]] inline void EndProgram(int exit_code) {
  Current().EndProgram(exit_code);
  std::abort();  // a runtime whose EndProgram returns is broken
}
inline Text GetRunDirectory() { return Current().GetRunDirectory(); }

inline void LoadWindow(WindowId w, bool modal = true) { Current().LoadWindow(w, modal); }
inline void CloseWindow(WindowId w) { Current().CloseWindow(w); }
inline Value GetProperty(const ControlRef& c, Prop p) { return Current().GetProperty(c, p); }
inline bool SetProperty(const ControlRef& c, Prop p, Value v) { return Current().SetProperty(c, p, std::move(v)); }
inline int ShowMessage(const Text& text, uint32_t flags) { return Current().ShowMessage(text, flags); }
inline bool ShowFileDialog(const ControlRef& d) { return Current().ShowFileDialog(d); }

inline void DeleteAllItems(const ControlRef& l) { Current().DeleteAllItems(l); }
inline int InsertItem(const ControlRef& l, const Text& title, int32_t value) { return Current().InsertItem(l, title, value); }
inline void SetItemText(const ControlRef& l, int row, int col, const Text& t) { Current().SetItemText(l, row, col, t); }
inline int32_t GetItemData(const ControlRef& l, int row) { return Current().GetItemData(l, row); }
inline void DeleteItem(const ControlRef& l, int row) { Current().DeleteItem(l, row); }

inline bool OpenMdb(const DbRef& db, const Text& file, const Text& password) { return Current().OpenMdb(db, file, password); }
inline void CloseDatabase(const DbRef& db) { Current().CloseDatabase(db); }
inline int Query(const DbRef& db, const Text& sql) { return Current().Query(db, sql); }
inline void MoveFirst(const DbRef& db, int rs) { Current().MoveFirst(db, rs); }
inline void MoveNext(const DbRef& db, int rs) { Current().MoveNext(db, rs); }
inline bool IsAfterLast(const DbRef& db, int rs) { return Current().IsAfterLast(db, rs); }
inline Value ReadField(const DbRef& db, int rs, const Text& col) { return Current().ReadField(db, rs, col); }
inline void CloseRecordSet(const DbRef& db, int rs) { Current().CloseRecordSet(db, rs); }
inline bool ExecuteSql(const DbRef& db, const Text& sql, Bytes* param = nullptr) { return Current().ExecuteSql(db, sql, param); }

// A temporary's text is handed over, not copied (every runtime gives texts
// unchanged): a list fill converts fields of every row.
inline Text ToText(Value v) { return v.kind() == Kind::Text ? v.TakeText() : Current().ToText(std::move(v)); }
inline Text ToText(int64_t n) { return ToText(Value::FromInt(n)); }
inline Text ToText(DateTime d) { return ToText(Value::FromDate(d)); }
inline DateTime ToDateTime(const Value& v) { return Current().ToDateTime(v); }
inline Bytes ToBinary(Value v) { return Current().ToBinary(std::move(v)); }
inline int GetYear(DateTime d) { return Current().DatePart(d, 'y'); }
inline int GetMonth(DateTime d) { return Current().DatePart(d, 'm'); }
inline int GetDay(DateTime d) { return Current().DatePart(d, 'd'); }
inline int GetHour(DateTime d) { return Current().DatePart(d, 'h'); }
inline int GetMinute(DateTime d) { return Current().DatePart(d, 'n'); }
inline int GetSecond(DateTime d) { return Current().DatePart(d, 's'); }

// Whole file as a byte block; empty when it cannot be read.
inline Bytes ReadFile(const Text& file_name) { return Current().ReadFile(file_name); }
inline int64_t FileSize(const Text& file_name) { return Current().FileSize(file_name); }

}  // namespace rt
