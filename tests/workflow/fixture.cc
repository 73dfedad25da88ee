#include "tests/workflow/fixture.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "app/globals.h"
#include "mdb/mdb.h"
#include "vorta/convert.h"
#include "vorta/text_codec.h"

namespace workflow_test {

void WorkflowTest::SetUp() {
  std::error_code ec;
  std::filesystem::path tmp = std::filesystem::temp_directory_path(ec);
  ASSERT_FALSE(ec) << ec.message();
  std::random_device random;
  // The program's folder is named with characters outside GBK, as any
  // folder may be.
  for (int attempt = 0; attempt < 100 && dir_.empty(); ++attempt) {
    std::filesystem::path p = tmp / std::filesystem::path(u"workflow-Zo\u00EB-\u00DF-\uD55C-");
    p += std::to_string(random());
    std::u8string name = p.generic_u8string();
    if (std::filesystem::create_directory(p, ec)) dir_.assign(name.begin(), name.end());
  }
  ASSERT_FALSE(dir_.empty()) << "no temporary folder";
  mdb::CreateOptions options;
  options.password = u"580274";
  mdb::Status s = mdb::Database::Create(mdb::Env::Default(), dir_ + "/access.mdb", options);
  ASSERT_TRUE(s.ok()) << s.ToString();

  // The globals live as long as the process; each test is a new run.
  app::CurrentUserName.clear();
  app::CurrentUserId.clear();
  app::LoginSucceeded = 0;
  app::Database = rt::DbRef();
  runtime_ = std::make_unique<headless::HeadlessRuntime>(app::ProgramImage());
  runtime_->SetRunDirectory(dir());
}

void WorkflowTest::TearDown() {
  runtime_.reset();
  own_unit_.reset();
  std::error_code ec;
  if (!dir_.empty()) std::filesystem::remove_all(Fs(dir_), ec);
}

void WorkflowTest::StartLoggedIn() {
  rt().OnModal(kLogin, [&] { rt().Click(kLogin, "按钮1"); });
  std::optional<int> ended = rt().StartMainWindow();
  ASSERT_FALSE(ended.has_value()) << "the program ended during start-up";
  ASSERT_EQ(rt().messages(), (std::vector<Message>{{"验证成功！", kInfo}}));
  ASSERT_EQ(app::LoginSucceeded, 1);
  rt().ClearMessages();
  rt().ClearStatements();
}

vorta::DatabaseUnit& WorkflowTest::Db() {
  vorta::DatabaseUnit* u = runtime_ ? runtime_->unit(app::Database) : nullptr;
  if (u != nullptr && u->is_open()) return *u;
  if (!own_unit_) {
    own_unit_ = std::make_unique<vorta::DatabaseUnit>();
    EXPECT_TRUE(own_unit_->OpenMdb(dir() + "/access.mdb", "580274")) << own_unit_->last_error();
  }
  return *own_unit_;
}

std::vector<Record> WorkflowTest::Select(const rt::Text& sql) {
  std::vector<Record> out;
  vorta::DatabaseUnit& db = Db();
  int rs = db.Query(sql);
  EXPECT_NE(rs, 0) << sql << ": " << db.last_error();
  if (rs == 0) return out;
  static const char* const kColumns[] = {"ID", "姓名", "性别", "个人简介", "出生日期", "添加者", "照片",
                                         "用户ID", "操作时间", "事件说明", "用户名", "密码"};
  db.MoveFirst(rs);
  while (!db.IsAfterLast(rs)) {
    Record r;
    for (const char* c : kColumns) {
      rt::Value v = db.ReadField(rs, c);
      if (!v.empty()) r[c] = v;
    }
    out.push_back(std::move(r));
    db.MoveNext(rs);
  }
  db.CloseRecordSet(rs);
  return out;
}

void WorkflowTest::Exec(const rt::Text& sql, const rt::Bytes* photo) {
  vorta::DatabaseUnit& db = Db();
  rt::Bytes bytes = photo != nullptr ? *photo : rt::Bytes();
  EXPECT_TRUE(db.ExecuteSql(sql, photo != nullptr ? &bytes : nullptr)) << sql << ": " << db.last_error();
}

std::vector<rt::Text> WorkflowTest::LogEvents() {
  std::vector<rt::Text> out;
  for (const Record& r : Select("select * from [操作日志]")) {
    auto it = r.find("事件说明");
    out.push_back(it == r.end() ? rt::Text() : vorta::ToText(it->second));
  }
  return out;
}

int64_t WorkflowTest::SeedPerson(const rt::Text& name, bool male, const rt::Text& birth,
                                 const rt::Text& profile, const rt::Bytes& photo) {
  auto quote = [](const rt::Text& t) {
    rt::Text q;
    for (char c : t) {
      q += c;
      if (c == '\'') q += c;
    }
    return q;
  };
  Exec("insert into [用户信息表] ([姓名],[性别],[个人简介],[出生日期],[添加者],[照片]) values ('" +
           quote(name) + "'," + (male ? "true" : "false") + ",'" + quote(profile) + "','" + birth +
           "','种子',?)",
       &photo);
  int64_t id = 0;
  for (const Record& r : Select("select * from [用户信息表]")) {
    auto it = r.find("ID");
    if (it != r.end() && it->second.kind() == rt::Kind::Integer) id = std::max(id, it->second.integer());
  }
  return id;
}

std::vector<Record> WorkflowTest::PersonsNamed(const rt::Text& name) {
  std::vector<Record> out;
  for (Record& r : Select("select * from [用户信息表]")) {
    auto it = r.find("姓名");
    rt::Text n = it == r.end() ? rt::Text() : vorta::ToText(it->second);
    if (n == name) out.push_back(std::move(r));
  }
  return out;
}

rt::Text WorkflowTest::WriteFile(const std::string& name, const std::string& bytes) {
  std::ofstream f(Fs(dir_ + "/" + text::Gb18030ToUtf8(name)), std::ios::binary);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return dir() + "/" + name;
}

std::vector<rt::Text> WorkflowTest::Sent() const {
  std::vector<rt::Text> out;
  for (const headless::Statement& s : runtime_->statements()) out.push_back(s.sql);
  return out;
}

std::string SamplePhoto(char seed) {
  std::string png("\x89PNG\r\n\x1a\n", 8);
  for (int i = 0; i < 300; ++i) png += static_cast<char>(seed + i * 7);
  png += std::string("\0\0\0", 3);  // zero bytes inside must survive
  return png;
}

}  // namespace workflow_test
