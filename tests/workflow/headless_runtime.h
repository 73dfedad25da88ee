// An in-memory runtime for running the program's handlers without windows.
// Windows are built from the same definitions the program ships; controls
// keep their values and list rows; message boxes are recorded and answered
// from a script; a modal window's interaction runs as a callback. Database
// calls go to the real database unit, conversions to the real conversions.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "runtime/runtime.h"
#include "vorta/dbunit.h"

namespace headless {

struct Message {
  rt::Text text;
  uint32_t flags;
  bool operator==(const Message&) const = default;
};

struct Row {
  std::vector<rt::Text> cells;
  int32_t data = 0;
};

struct Control {
  const rt::ControlDef* def = nullptr;
  rt::Text text;
  int index = -1;
  rt::DateTime date;
  rt::Bytes picture;
  bool checked = false;
  std::vector<Row> rows;
  int current_row = -1;
  rt::Text file_name;
};

struct Window {
  const rt::WindowDef* def = nullptr;
  bool open = false;
  rt::Text title;
  std::map<std::string, Control> controls;
};

// A statement as it reached the database unit.
struct Statement {
  bool query;  // Query, else ExecuteSql
  rt::Text sql;
  bool ok;
};

// Thrown by EndProgram; the process would end here.
struct ProgramEnded {
  int exit_code;
};

class HeadlessRuntime : public rt::Runtime {
 public:
  explicit HeadlessRuntime(const rt::ProgramImage& image);
  ~HeadlessRuntime() override;

  // --- Script -------------------------------------------------------------
  void SetRunDirectory(const rt::Text& dir) { run_directory_ = dir; }
  // Runs while the modal window is shown; when it returns with the window
  // still open, the window is closed with its close box.
  void OnModal(rt::WindowId window, std::function<void()> interaction) {
    interactions_[window] = std::move(interaction);
  }
  // Runs inside the message loop; afterwards the main window is closed.
  void OnMessageLoop(std::function<void()> interaction) { message_loop_ = std::move(interaction); }
  // The buttons the next message boxes return. Without an answer a box
  // returns OK, and a Yes/No box returns No.
  void Answer(int button) { answers_.push_back(button); }
  // The next file dialog picks this path; without one it is cancelled.
  void ChooseFile(const rt::Text& path) { chosen_files_.push_back(path); }
  // Database units made from now on reach their files through env.
  void UseEnv(mdb::Env* env) { env_ = env; }
  // Runs once, just before the next ExecuteSql reaches the database: what
  // another program could do to the file at that moment.
  void BeforeNextExecute(std::function<void()> action) { before_execute_ = std::move(action); }

  // Runs the program's entry routine; gives the exit code.
  int RunProgram();
  // Loads the startup window as the entry routine does; gives the exit code
  // when the program ended during start-up.
  std::optional<int> StartMainWindow();

  // --- The user's hands ---------------------------------------------------
  void Click(rt::WindowId window, const char* button);
  void Type(rt::WindowId window, const char* edit, const rt::Text& text);
  void Pick(rt::WindowId window, const char* combo, int index);
  void SetDate(rt::WindowId window, const char* box, rt::DateTime d);
  void Tick(rt::WindowId window, const char* check, bool ticked);
  // Makes a row current (negative: none) and raises the list's event.
  void SelectRow(rt::WindowId window, const char* list, int row);
  // Closes a window as its close box does.
  void CloseBox(rt::WindowId window);

  // --- What the user sees -------------------------------------------------
  bool IsOpen(rt::WindowId window) const;
  const rt::Text& Title(rt::WindowId window);
  Control& At(rt::WindowId window, const char* name);
  const std::vector<Row>& Rows(rt::WindowId window, const char* list) { return At(window, list).rows; }
  std::vector<rt::Text> Column(rt::WindowId window, const char* list, int column);
  const std::vector<Message>& messages() const { return messages_; }
  void ClearMessages() { messages_.clear(); }
  const std::vector<Statement>& statements() const { return statements_; }
  void ClearStatements() { statements_.clear(); }
  // Windows in the order they were loaded.
  const std::vector<rt::WindowId>& loads() const { return loads_; }
  int close_database_calls() const { return close_database_calls_; }
  bool exit_routine_ran() const { return exit_routine_ran_; }
  // The unit a window's database control holds (nullptr before OpenMdb).
  vorta::DatabaseUnit* unit(const rt::DbRef& db);

  // --- rt::Runtime --------------------------------------------------------
  void RegisterExitRoutine(void (*routine)()) override { exit_routine_ = routine; }
  void RunMessageLoop() override;
  [[noreturn]] void EndProgram(int exit_code) override;
  rt::Text GetRunDirectory() override { return run_directory_; }
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

  // Record sets opened and not yet closed, over all units.
  int open_record_sets() const { return open_record_sets_; }

 private:
  Window& WindowOf(rt::WindowId id);
  Control* Find(const rt::ControlRef& ref, rt::ControlKind kind, const char* what);
  Control& Need(rt::WindowId window, const char* name, rt::ControlKind kind);
  vorta::DatabaseUnit* UnitFor(const rt::DbRef& db, const char* what);

  const rt::ProgramImage& image_;
  std::map<rt::WindowId, Window> windows_;
  std::map<rt::WindowId, std::function<void()>> interactions_;
  std::function<void()> message_loop_;
  std::function<void()> before_execute_;
  std::deque<int> answers_;
  std::deque<rt::Text> chosen_files_;
  std::vector<Message> messages_;
  std::vector<Statement> statements_;
  std::vector<rt::WindowId> loads_;
  std::map<std::pair<rt::WindowId, std::string>, std::unique_ptr<vorta::DatabaseUnit>> units_;
  rt::Text run_directory_;
  mdb::Env* env_ = nullptr;
  void (*exit_routine_)() = nullptr;
  bool exit_routine_ran_ = false;
  int close_database_calls_ = 0;
  int open_record_sets_ = 0;
};

// Midnight of a calendar day as an OLE date.
rt::DateTime Day(int year, int month, int day);
rt::DateTime At(int year, int month, int day, int hour, int minute, int second);

}  // namespace headless
