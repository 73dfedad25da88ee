// A fresh program database in a temporary directory and the headless
// runtime over it, for tests that run the program's workflows.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/globals.h"
#include "tests/workflow/headless_runtime.h"
#include "vorta/text_codec.h"

namespace workflow_test {

constexpr rt::WindowId kMain = rt::WindowId::Main;
constexpr rt::WindowId kLogin = rt::WindowId::Login;
constexpr rt::WindowId kStats = rt::WindowId::Stats;
constexpr rt::WindowId kAdmin = rt::WindowId::Admin;

constexpr uint32_t kError = 0x10;
constexpr uint32_t kInfo = 0x40;
constexpr uint32_t kQuestion = 0x24;

using headless::Message;

// One record read back, column name -> value.
using Record = std::map<std::string, rt::Value>;

class WorkflowTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  headless::HeadlessRuntime& rt() { return *runtime_; }
  // The test's folder as the program names it (GB18030).
  rt::Text dir() const { return text::Utf8ToGb18030(dir_); }
  std::filesystem::path db_path() const { return Fs(dir_ + "/access.mdb"); }
  // A UTF-8 name as the file system takes it, on every platform.
  static std::filesystem::path Fs(const std::string& utf8) { return std::u8string(utf8.begin(), utf8.end()); }

  // Starts the program up to the filled main window, logging in with the
  // login window's start values, and forgets the messages and statements
  // of the start-up.
  void StartLoggedIn();

  // The database as it is now: through the program's own unit while the
  // program has it open, else through a unit of the test's own.
  vorta::DatabaseUnit& Db();
  std::vector<Record> Select(const rt::Text& sql);
  int Count(const rt::Text& sql) { return static_cast<int>(Select(sql).size()); }
  void Exec(const rt::Text& sql, const rt::Bytes* photo = nullptr);
  // [事件说明] of every log row, in storage order.
  std::vector<rt::Text> LogEvents();
  // A person row put in behind the program's back; gives its [ID].
  int64_t SeedPerson(const rt::Text& name, bool male, const rt::Text& birth, const rt::Text& profile,
                     const rt::Bytes& photo = rt::Bytes());
  // The person rows whose [姓名] is name.
  std::vector<Record> PersonsNamed(const rt::Text& name);

  // A file in the test directory with these bytes (name in GB18030); gives
  // its path as the program names it.
  rt::Text WriteFile(const std::string& name, const std::string& bytes);

  std::vector<Message> messages() const { return runtime_->messages(); }
  // Texts of the statements the workflows sent, in order.
  std::vector<rt::Text> Sent() const;

 private:
  std::string dir_;  // UTF-8
  std::unique_ptr<headless::HeadlessRuntime> runtime_;
  std::unique_ptr<vorta::DatabaseUnit> own_unit_;
};

// A small picture file's bytes: a valid PNG header and some body.
std::string SamplePhoto(char seed);

}  // namespace workflow_test

namespace workflow_test {

inline rt::Value Field(const Record& r, const char* column) {
  auto it = r.find(column);
  return it == r.end() ? rt::Value() : it->second;
}

}  // namespace workflow_test
