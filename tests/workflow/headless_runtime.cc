#include "tests/workflow/headless_runtime.h"

#include <gtest/gtest.h>

#include <cstring>

#include "mdb/oadate.h"
#include "vorta/convert.h"

namespace headless {

namespace {

const char* KindName(rt::ControlKind k) {
  switch (k) {
    case rt::ControlKind::Button: return "button";
    case rt::ControlKind::Label: return "label";
    case rt::ControlKind::Edit: return "edit box";
    case rt::ControlKind::Combo: return "combo box";
    case rt::ControlKind::DateBox: return "date box";
    case rt::ControlKind::CheckBox: return "check box";
    case rt::ControlKind::PictureBox: return "picture box";
    case rt::ControlKind::GroupBox: return "group box";
    case rt::ControlKind::ListView: return "list view";
    case rt::ControlKind::CommonDialog: return "common dialog";
    case rt::ControlKind::Database: return "database";
  }
  return "?";
}

bool IsWindowItself(const char* name) { return name == nullptr || name[0] == '\0'; }

// The program builds Windows paths; here they name POSIX files.
rt::Text NativePath(rt::Text path) {
#ifndef _WIN32
  for (size_t i = 0; i < path.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if (c >= 0x81) ++i;  // the byte after a lead byte may be 0x5C
    else if (c == '\\') path[i] = '/';
  }
#endif
  return path;
}

}  // namespace

rt::DateTime Day(int year, int month, int day) { return At(year, month, day, 0, 0, 0); }

rt::DateTime At(int year, int month, int day, int hour, int minute, int second) {
  mdb::CivilTime t;
  t.year = year, t.month = month, t.day = day, t.hour = hour, t.minute = minute, t.second = second;
  return rt::DateTime{mdb::CivilToOa(t)};
}

HeadlessRuntime::HeadlessRuntime(const rt::ProgramImage& image) : image_(image) {
  image_.set_runtime(this);
}

HeadlessRuntime::~HeadlessRuntime() { rt::SetRuntime(nullptr); }

int HeadlessRuntime::RunProgram() {
  int code = -1;
  try {
    image_.entry();
    ADD_FAILURE() << "the entry routine returned instead of ending the program";
  } catch (const ProgramEnded& end) {
    code = end.exit_code;
  }
  return code;
}

std::optional<int> HeadlessRuntime::StartMainWindow() {
  try {
    LoadWindow(image_.startup_window, false);
  } catch (const ProgramEnded& end) {
    return end.exit_code;
  }
  return std::nullopt;
}

void HeadlessRuntime::RunMessageLoop() {
  if (message_loop_) message_loop_();
  // The loop ends when the main window is gone.
  if (IsOpen(image_.startup_window)) CloseBox(image_.startup_window);
}

void HeadlessRuntime::EndProgram(int exit_code) {
  if (exit_routine_ != nullptr && !exit_routine_ran_) {
    exit_routine_ran_ = true;
    exit_routine_();
  }
  throw ProgramEnded{exit_code};
}

void HeadlessRuntime::LoadWindow(rt::WindowId id, bool modal) {
  const rt::WindowDef* def = rt::FindWindowDef(image_, id);
  if (def == nullptr) {
    ADD_FAILURE() << "LoadWindow of a window without a definition";
    return;
  }
  // Built afresh from its definition every time.
  Window w;
  w.def = def;
  w.open = true;
  w.title = def->title;
  for (int i = 0; i < def->control_count; ++i) {
    const rt::ControlDef& c = def->controls[i];
    Control state;
    state.def = &c;
    if (c.kind == rt::ControlKind::Edit && c.caption != nullptr) state.text = c.caption;
    if (c.kind == rt::ControlKind::DateBox) state.date = rt::DateTime{mdb::TodayOa()};
    w.controls[c.name] = std::move(state);
  }
  windows_[id] = std::move(w);
  loads_.push_back(id);
  if (def->on_created != nullptr) def->on_created();
  if (!modal) return;
  if (!IsOpen(id)) return;
  auto it = interactions_.find(id);
  if (it != interactions_.end() && it->second) it->second();
  if (IsOpen(id)) CloseBox(id);
}

void HeadlessRuntime::CloseWindow(rt::WindowId id) {
  auto it = windows_.find(id);
  if (it == windows_.end() || !it->second.open) {
    ADD_FAILURE() << "CloseWindow of a window that is not open";
    return;
  }
  it->second.open = false;
}

void HeadlessRuntime::CloseBox(rt::WindowId id) {
  Window& w = WindowOf(id);
  if (!w.open) return;
  if (w.def->on_close_request != nullptr) w.def->on_close_request();
  w.open = false;
  if (w.def->on_destroy != nullptr) w.def->on_destroy();
}

bool HeadlessRuntime::IsOpen(rt::WindowId id) const {
  auto it = windows_.find(id);
  return it != windows_.end() && it->second.open;
}

Window& HeadlessRuntime::WindowOf(rt::WindowId id) {
  auto it = windows_.find(id);
  if (it == windows_.end()) {
    ADD_FAILURE() << "window never loaded";
    static Window none;
    return none;
  }
  return it->second;
}

const rt::Text& HeadlessRuntime::Title(rt::WindowId id) { return WindowOf(id).title; }

Control& HeadlessRuntime::At(rt::WindowId id, const char* name) {
  Window& w = WindowOf(id);
  auto it = w.controls.find(name);
  if (it == w.controls.end()) {
    ADD_FAILURE() << "no control " << name;
    static Control none;
    return none;
  }
  return it->second;
}

Control* HeadlessRuntime::Find(const rt::ControlRef& ref, rt::ControlKind kind, const char* what) {
  auto wit = windows_.find(ref.window);
  if (wit == windows_.end() || !wit->second.open) {
    ADD_FAILURE() << what << " on a window that is not open";
    return nullptr;
  }
  auto it = wit->second.controls.find(ref.name == nullptr ? "" : ref.name);
  if (it == wit->second.controls.end()) {
    ADD_FAILURE() << what << ": the window has no control with that name";
    return nullptr;
  }
  if (it->second.def->kind != kind) {
    ADD_FAILURE() << what << " on a " << KindName(it->second.def->kind) << ", expected a "
                  << KindName(kind);
    return nullptr;
  }
  return &it->second;
}

Control& HeadlessRuntime::Need(rt::WindowId window, const char* name, rt::ControlKind kind) {
  Control* c = Find(rt::ControlRef{window, name}, kind, "the test");
  if (c == nullptr) {
    static Control none;
    return none;
  }
  return *c;
}

rt::Value HeadlessRuntime::GetProperty(const rt::ControlRef& ref, rt::Prop prop) {
  using rt::ControlKind;
  using rt::Value;
  if (prop == rt::Prop::Title) {
    if (!IsWindowItself(ref.name)) ADD_FAILURE() << "Title of a control";
    return Value::FromText(WindowOf(ref.window).title);
  }
  Control* c = nullptr;
  switch (prop) {
    case rt::Prop::Text: {
      auto wit = windows_.find(ref.window);
      if (wit != windows_.end()) {
        auto it = wit->second.controls.find(ref.name == nullptr ? "" : ref.name);
        if (it != wit->second.controls.end() && it->second.def->kind == ControlKind::Combo)
          return Value::FromText(it->second.text);
      }
      c = Find(ref, ControlKind::Edit, "Text");
      return c ? Value::FromText(c->text) : Value();
    }
    case rt::Prop::Index:
      c = Find(ref, ControlKind::Combo, "Index");
      return c ? Value::FromInt(c->index) : Value();
    case rt::Prop::Date:
      c = Find(ref, ControlKind::DateBox, "Date");
      return c ? Value::FromDate(c->date) : Value();
    case rt::Prop::Picture:
      c = Find(ref, ControlKind::PictureBox, "Picture");
      return c ? Value::FromBytes(c->picture) : Value();
    case rt::Prop::Checked:
      c = Find(ref, ControlKind::CheckBox, "Checked");
      return c ? Value::FromBool(c->checked) : Value();
    case rt::Prop::CurrentRow:
      c = Find(ref, ControlKind::ListView, "CurrentRow");
      return c ? Value::FromInt(c->current_row) : Value();
    case rt::Prop::FileName:
      c = Find(ref, ControlKind::CommonDialog, "FileName");
      return c ? Value::FromText(c->file_name) : Value();
    case rt::Prop::Title:
      break;
  }
  return Value();
}

bool HeadlessRuntime::SetProperty(const rt::ControlRef& ref, rt::Prop prop, rt::Value v) {
  using rt::ControlKind;
  using rt::Kind;
  Control* c = nullptr;
  switch (prop) {
    case rt::Prop::Title:
      if (!IsWindowItself(ref.name)) ADD_FAILURE() << "Title of a control";
      if (v.kind() != Kind::Text) ADD_FAILURE() << "a title that is not a text";
      else WindowOf(ref.window).title = v.text();
      return true;
    case rt::Prop::Text:
      if ((c = Find(ref, ControlKind::Edit, "Text")) == nullptr) return false;
      if (v.kind() != Kind::Text) ADD_FAILURE() << "Text set to a value that is not a text";
      else c->text = v.TakeText();
      return true;
    case rt::Prop::Index: {
      if ((c = Find(ref, ControlKind::Combo, "Index")) == nullptr) return false;
      if (v.kind() != Kind::Integer) {
        ADD_FAILURE() << "Index set to a value that is not an integer";
        return false;
      }
      int count = 0;
      while (c->def->items != nullptr && c->def->items[count] != nullptr) ++count;
      int64_t i = v.integer();
      c->index = (i >= 0 && i < count) ? static_cast<int>(i) : -1;
      c->text = c->index >= 0 ? c->def->items[c->index] : "";
      return true;
    }
    case rt::Prop::Date:
      if ((c = Find(ref, ControlKind::DateBox, "Date")) == nullptr) return false;
      if (v.kind() != Kind::DateTime) ADD_FAILURE() << "Date set to a value that is not a date-time";
      else c->date = v.date();
      return true;
    case rt::Prop::Picture:
      if ((c = Find(ref, ControlKind::PictureBox, "Picture")) == nullptr) return false;
      if (v.kind() != Kind::Bytes) ADD_FAILURE() << "Picture set to a value that is not a byte block";
      else c->picture = v.TakeBytes();
      return true;
    case rt::Prop::Checked:
    case rt::Prop::CurrentRow:
    case rt::Prop::FileName:
      ADD_FAILURE() << "the program never sets this property";
      return false;
  }
  return false;
}

int HeadlessRuntime::ShowMessage(const rt::Text& text, uint32_t flags) {
  messages_.push_back(Message{text, flags});
  bool yes_no = (flags & 0x0F) == rt::kYesNo;
  int answer = yes_no ? rt::kIdNo : rt::kIdOk;
  if (!answers_.empty()) {
    answer = answers_.front();
    answers_.pop_front();
  }
  return answer;
}

bool HeadlessRuntime::ShowFileDialog(const rt::ControlRef& dialog) {
  Control* c = Find(dialog, rt::ControlKind::CommonDialog, "ShowFileDialog");
  if (c == nullptr || chosen_files_.empty()) return false;
  c->file_name = chosen_files_.front();
  chosen_files_.pop_front();
  return true;
}

void HeadlessRuntime::DeleteAllItems(const rt::ControlRef& list) {
  if (Control* c = Find(list, rt::ControlKind::ListView, "DeleteAllItems")) {
    c->rows.clear();
    c->current_row = -1;
  }
}

int HeadlessRuntime::InsertItem(const rt::ControlRef& list, const rt::Text& title, int32_t value) {
  Control* c = Find(list, rt::ControlKind::ListView, "InsertItem");
  if (c == nullptr) return -1;
  Row row;
  row.cells.assign(c->def->column_count > 0 ? c->def->column_count : 1, rt::Text());
  row.cells[0] = title;
  row.data = value;
  c->rows.push_back(std::move(row));
  return static_cast<int>(c->rows.size()) - 1;
}

void HeadlessRuntime::SetItemText(const rt::ControlRef& list, int row, int column, const rt::Text& text) {
  Control* c = Find(list, rt::ControlKind::ListView, "SetItemText");
  if (c == nullptr) return;
  if (row < 0 || row >= static_cast<int>(c->rows.size())) return;
  if (column < 0 || column >= static_cast<int>(c->rows[row].cells.size())) {
    ADD_FAILURE() << "SetItemText of column " << column << " past the list's columns";
    return;
  }
  c->rows[row].cells[column] = text;
}

int32_t HeadlessRuntime::GetItemData(const rt::ControlRef& list, int row) {
  Control* c = Find(list, rt::ControlKind::ListView, "GetItemData");
  if (c == nullptr || row < 0 || row >= static_cast<int>(c->rows.size())) return 0;
  return c->rows[row].data;
}

void HeadlessRuntime::DeleteItem(const rt::ControlRef& list, int row) {
  Control* c = Find(list, rt::ControlKind::ListView, "DeleteItem");
  if (c == nullptr || row < 0 || row >= static_cast<int>(c->rows.size())) return;
  c->rows.erase(c->rows.begin() + row);
  if (c->current_row == row) c->current_row = -1;
  else if (c->current_row > row) --c->current_row;
}

std::vector<rt::Text> HeadlessRuntime::Column(rt::WindowId window, const char* list, int column) {
  std::vector<rt::Text> out;
  for (const Row& r : Rows(window, list))
    out.push_back(column < static_cast<int>(r.cells.size()) ? r.cells[column] : rt::Text());
  return out;
}

void HeadlessRuntime::Click(rt::WindowId window, const char* button) {
  Control& c = Need(window, button, rt::ControlKind::Button);
  if (c.def != nullptr && c.def->on_click != nullptr) c.def->on_click();
}

void HeadlessRuntime::Type(rt::WindowId window, const char* edit, const rt::Text& text) {
  Need(window, edit, rt::ControlKind::Edit).text = text;
}

void HeadlessRuntime::Pick(rt::WindowId window, const char* combo, int index) {
  SetProperty(rt::ControlRef{window, combo}, rt::Prop::Index, rt::Value::FromInt(index));
}

void HeadlessRuntime::SetDate(rt::WindowId window, const char* box, rt::DateTime d) {
  Need(window, box, rt::ControlKind::DateBox).date = d;
}

void HeadlessRuntime::Tick(rt::WindowId window, const char* check, bool ticked) {
  Need(window, check, rt::ControlKind::CheckBox).checked = ticked;
}

void HeadlessRuntime::SelectRow(rt::WindowId window, const char* list, int row) {
  Control& c = Need(window, list, rt::ControlKind::ListView);
  if (row >= static_cast<int>(c.rows.size())) {
    ADD_FAILURE() << "SelectRow past the list's rows";
    return;
  }
  c.current_row = row < 0 ? -1 : row;
  if (c.def != nullptr && c.def->on_current_row_changed != nullptr) c.def->on_current_row_changed();
}

vorta::DatabaseUnit* HeadlessRuntime::unit(const rt::DbRef& db) {
  if (!db.valid()) return nullptr;
  auto it = units_.find({db.window, db.name});
  return it == units_.end() ? nullptr : it->second.get();
}

vorta::DatabaseUnit* HeadlessRuntime::UnitFor(const rt::DbRef& db, const char* what) {
  if (!db.valid()) {
    ADD_FAILURE() << what << " on no database unit";
    return nullptr;
  }
  const rt::ControlDef* def = nullptr;
  if (const rt::WindowDef* w = rt::FindWindowDef(image_, db.window)) def = rt::FindControlDef(*w, db.name);
  if (def == nullptr || def->kind != rt::ControlKind::Database) {
    ADD_FAILURE() << what << " on a name that is no database unit";
    return nullptr;
  }
  auto& slot = units_[{db.window, db.name}];
  if (!slot) slot = std::make_unique<vorta::DatabaseUnit>(env_);
  return slot.get();
}

bool HeadlessRuntime::OpenMdb(const rt::DbRef& db, const rt::Text& file, const rt::Text& password) {
  vorta::DatabaseUnit* u = UnitFor(db, "OpenMdb");
  return u != nullptr && u->OpenMdb(NativePath(file), password);
}

void HeadlessRuntime::CloseDatabase(const rt::DbRef& db) {
  ++close_database_calls_;
  if (vorta::DatabaseUnit* u = UnitFor(db, "CloseDatabase")) {
    u->CloseDatabase();
    open_record_sets_ = 0;
  }
}

int HeadlessRuntime::Query(const rt::DbRef& db, const rt::Text& sql) {
  vorta::DatabaseUnit* u = UnitFor(db, "Query");
  int rs = u != nullptr ? u->Query(sql) : 0;
  statements_.push_back(Statement{true, sql, rs != 0});
  if (rs != 0) ++open_record_sets_;
  return rs;
}

void HeadlessRuntime::MoveFirst(const rt::DbRef& db, int rs) {
  if (vorta::DatabaseUnit* u = UnitFor(db, "MoveFirst")) u->MoveFirst(rs);
}

void HeadlessRuntime::MoveNext(const rt::DbRef& db, int rs) {
  if (vorta::DatabaseUnit* u = UnitFor(db, "MoveNext")) u->MoveNext(rs);
}

bool HeadlessRuntime::IsAfterLast(const rt::DbRef& db, int rs) {
  vorta::DatabaseUnit* u = UnitFor(db, "IsAfterLast");
  return u == nullptr || u->IsAfterLast(rs);
}

rt::Value HeadlessRuntime::ReadField(const rt::DbRef& db, int rs, const rt::Text& column) {
  vorta::DatabaseUnit* u = UnitFor(db, "ReadField");
  return u != nullptr ? u->ReadField(rs, column) : rt::Value();
}

void HeadlessRuntime::CloseRecordSet(const rt::DbRef& db, int rs) {
  if (vorta::DatabaseUnit* u = UnitFor(db, "CloseRecordSet")) {
    u->CloseRecordSet(rs);
    --open_record_sets_;
  }
}

bool HeadlessRuntime::ExecuteSql(const rt::DbRef& db, const rt::Text& sql, rt::Bytes* param) {
  vorta::DatabaseUnit* u = UnitFor(db, "ExecuteSql");
  if (before_execute_) {
    auto action = std::move(before_execute_);
    before_execute_ = nullptr;
    action();
  }
  bool ok = u != nullptr && u->ExecuteSql(sql, param);
  statements_.push_back(Statement{false, sql, ok});
  return ok;
}

rt::Text HeadlessRuntime::ToText(rt::Value v) { return vorta::ToText(std::move(v)); }
rt::DateTime HeadlessRuntime::ToDateTime(const rt::Value& v) { return vorta::ToDateTime(v); }
rt::Bytes HeadlessRuntime::ToBinary(rt::Value v) { return vorta::ToBinary(std::move(v)); }
int HeadlessRuntime::DatePart(rt::DateTime d, char part) { return vorta::DatePart(d, part); }
rt::Bytes HeadlessRuntime::ReadFile(const rt::Text& file_name) {
  return vorta::ReadFile(NativePath(file_name));
}

int64_t HeadlessRuntime::FileSize(const rt::Text& file_name) { return vorta::FileSize(NativePath(file_name)); }

}  // namespace headless
