// usermgr-bench-gen FILE --persons N [--photo-every K] [--photo-kb KB]:
// a new database of the program's schema holding N made-up persons, written
// through the engine in transactions of a thousand rows.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "bench/person_data.h"
#include "mdb/mdb.h"

namespace {

int Fail(const char* what, const mdb::Status& s) {
  std::fprintf(stderr, "usermgr-bench-gen: %s: %s\n", what, s.ToString().c_str());
  return 1;
}

int Usage() {
  std::fprintf(stderr,
               "usage: usermgr-bench-gen FILE --persons N [--photo-every K] [--photo-kb KB] "
               "[--password P]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string file, password = "580274";
  long persons = -1, photo_every = 100, photo_kb = 50;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    bool has_value = i + 1 < argc;
    if (a == "--persons" && has_value) {
      persons = std::atol(argv[++i]);
    } else if (a == "--photo-every" && has_value) {
      photo_every = std::atol(argv[++i]);
    } else if (a == "--photo-kb" && has_value) {
      photo_kb = std::atol(argv[++i]);
    } else if (a == "--password" && has_value) {
      password = argv[++i];
    } else if (file.empty() && a.rfind("--", 0) != 0) {
      file = a;
    } else {
      return Usage();
    }
  }
  if (file.empty() || persons < 0 || photo_every < 0 || photo_kb < 0) return Usage();

  auto start = std::chrono::steady_clock::now();
  mdb::CreateOptions create;
  create.password = std::u16string(password.begin(), password.end());
  mdb::Status s = mdb::Database::Create(mdb::Env::Default(), file, create);
  if (!s.ok()) return Fail("create", s);

  mdb::OpenOptions open;
  open.password = create.password;
  std::unique_ptr<mdb::Database> db;
  s = mdb::Database::Open(mdb::Env::Default(), file, open, &db);
  if (!s.ok()) return Fail("open", s);
  std::unique_ptr<mdb::Table> table;
  s = db->OpenTable(u"用户信息表", &table);
  if (!s.ok()) return Fail("open table", s);

  const int n_cols = static_cast<int>(table->columns().size());
  const int c_name = table->ColumnIndex(u"姓名"), c_sex = table->ColumnIndex(u"性别"),
            c_profile = table->ColumnIndex(u"个人简介"), c_birth = table->ColumnIndex(u"出生日期"),
            c_adder = table->ColumnIndex(u"添加者"), c_photo = table->ColumnIndex(u"照片");
  if (c_name < 0 || c_sex < 0 || c_profile < 0 || c_birth < 0 || c_adder < 0 || c_photo < 0) {
    std::fprintf(stderr, "usermgr-bench-gen: [用户信息表] lacks one of the program's columns\n");
    return 1;
  }

  const long kBatch = 1000;
  std::vector<mdb::Value> row(n_cols);
  for (long i = 0; i < persons; ++i) {
    if (i % kBatch == 0) {
      s = db->Begin();
      if (!s.ok()) return Fail("begin", s);
    }
    bench::Person p = bench::MakePerson(i, photo_every, static_cast<size_t>(photo_kb) * 1024);
    for (auto& v : row) v = std::monostate{};
    row[c_name] = std::move(p.name);
    row[c_sex] = p.male;
    row[c_profile] = std::move(p.profile);
    row[c_birth] = mdb::Date{p.birth_oa};
    row[c_adder] = std::u16string(u"张三");
    row[c_photo] = mdb::Binary{std::move(p.photo)};
    mdb::RowId id;
    int64_t autonumber = 0;
    s = table->Insert(row, &id, &autonumber);
    if (!s.ok()) return Fail("insert", s);
    if (i % kBatch == kBatch - 1 || i == persons - 1) {
      s = db->Commit();
      if (!s.ok()) return Fail("commit", s);
    }
  }
  double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%s: %ld persons (%ld with photos of %ld KB) in %.1f s\n", file.c_str(), persons,
              photo_every ? (persons + photo_every - 1) / photo_every : 0, photo_kb, secs);
  return 0;
}
