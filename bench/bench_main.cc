// usermgr-bench: the engine's side of ./bench.sh.
//
//   usermgr-bench scan FILE [--password P]
//       every row of [用户信息表] to stdout as CSV (photos in hex), walked
//       through the record-set API: the whole-process full scan.
//   usermgr-bench read FILE [--reps N] [--password P]
//       in-process medians: open plus login, the full scan, the searches and
//       the birth-date statistic, as the program runs them.
//   usermgr-bench write FILE [--count N] [--photo-kb KB] [--password P]
//       durable single-statement inserts, updates and deletes with photos,
//       against plain writes of the same bytes with one fsync each.
//   usermgr-bench share FILE [--seconds S] [--count N] [--photo-kb KB] [--password P]
//       a second process walks a record set over [用户信息表] for S seconds,
//       holding its read all along, while this one inserts N rows with
//       photos through the database unit, spread over the same time: each
//       insert's time, the longest, and any that failed.
//   usermgr-bench keys DIR [--count N]
//       the cost of text index keys: making the key of N persons' names
//       alone, and N durable inserts of persons (no photos) into a new file
//       without and one with an index on [姓名].
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bench/person_data.h"
#include "mdb/index_key.h"
#include "mdb/mdb.h"
#include "mdb/sql.h"
#include "mdb/value_format.h"
#include "vorta/convert.h"
#include "vorta/dbunit.h"
#include "vorta/text_codec.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n == 0 ? 0 : (n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2);
}

long PeakRssKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

rt::Text Gbk(const char16_t* s) { return text::Utf16ToGb18030(s); }

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "usermgr-bench: %s\n", what.c_str());
  std::exit(1);
}

void Check(const mdb::Status& s, const char* what) {
  if (!s.ok()) Die(std::string(what) + ": " + s.ToString());
}

struct Args {
  std::string file, password = "580274";
  int reps = 5;
  long count = 10000, photo_kb = 50;
  double seconds = 60;
};

Args ParseArgs(int argc, char** argv) {
  Args a;
  for (int i = 2; i < argc; ++i) {
    std::string s = argv[i];
    bool v = i + 1 < argc;
    if (s == "--password" && v) a.password = argv[++i];
    else if (s == "--reps" && v) a.reps = std::max(1, std::atoi(argv[++i]));
    else if (s == "--count" && v) a.count = std::atol(argv[++i]);
    else if (s == "--photo-kb" && v) a.photo_kb = std::atol(argv[++i]);
    else if (s == "--seconds" && v) a.seconds = std::atof(argv[++i]);
    else if (a.file.empty() && s.rfind("--", 0) != 0) a.file = s;
    else Die("unknown argument " + s);
  }
  if (a.file.empty()) Die("no FILE given");
  return a;
}

std::unique_ptr<mdb::Database> OpenDb(const Args& a, bool read_only) {
  mdb::OpenOptions o;
  o.read_only = read_only;
  o.password = text::Utf8ToUtf16(a.password);
  std::unique_ptr<mdb::Database> db;
  Check(mdb::Database::Open(mdb::Env::Default(), a.file, o, &db), "open");
  return db;
}

// ---- scan: one process, every row printed ------------------------------

// Rows go out in large writes, each value written in place as dump
// formats it (photos in hex).
class Out {
 public:
  ~Out() { Flush(); }
  char* Room(size_t n) {
    if (buf_.size() - len_ < n) {
      Flush();
      if (buf_.size() < n) buf_.resize(n);
    }
    return buf_.data() + len_;
  }
  void Advance(const char* end) { len_ = size_t(end - buf_.data()); }
  void Put(char c) { *Room(1) = c, ++len_; }
  void Flush() {
    std::fwrite(buf_.data(), 1, len_, stdout);
    len_ = 0;
  }

 private:
  std::vector<char> buf_ = std::vector<char>(1 << 20);
  size_t len_ = 0;
};

int RunScan(const Args& a) {
  auto db = OpenDb(a, true);
  std::unique_ptr<mdb::RecordSet> rs;
  Check(mdb::ExecuteQuery(db.get(), u"select * from [用户信息表]", &rs), "query");
  Out out;
  const auto& names = rs->column_names();
  for (size_t i = 0; i < names.size(); ++i) {
    if (i) out.Put(',');
    out.Advance(mdb::PutUtf8(names[i], out.Room(mdb::Utf8Room(names[i]))));
  }
  out.Put('\n');
  long rows = 0;
  const mdb::Value* v;
  for (Check(rs->MoveFirst(), "move first"); !rs->AtEnd(); Check(rs->MoveNext(), "move next")) {
    for (size_t i = 0; i < names.size(); ++i) {
      if (i) out.Put(',');
      Check(rs->Peek(static_cast<int>(i), &v), "get");
      out.Advance(mdb::PutValueCsv(*v, out.Room(mdb::ValueCsvRoom(*v))));
    }
    out.Put('\n');
    ++rows;
  }
  out.Flush();
  std::fprintf(stderr, "rows %ld peak_rss_kb %ld\n", rows, PeakRssKb());
  return 0;
}

// ---- read: in-process medians ------------------------------------------

struct Case {
  std::string name;
  double median_ms = 0;
  long rows = 0;
};

// Repeats body (which returns the rows it saw) and keeps the median time.
Case Measure(const std::string& name, int reps, const std::function<long()>& body) {
  std::vector<double> ms;
  long rows = -1;
  for (int i = 0; i < reps; ++i) {
    auto t = Clock::now();
    long r = body();
    ms.push_back(MsSince(t));
    if (rows >= 0 && r != rows) Die(name + ": row count changed between runs");
    rows = r;
  }
  return {name, Median(ms), rows};
}

// The engine alone: the record set walked, every column of every row read.
long EngineWalk(mdb::Database* db, const std::u16string& sql, bool all_columns) {
  std::unique_ptr<mdb::RecordSet> rs;
  Check(mdb::ExecuteQuery(db, sql, &rs), "query");
  std::vector<int> cols;
  if (all_columns) {
    for (size_t i = 0; i < rs->column_names().size(); ++i) cols.push_back(static_cast<int>(i));
  } else {
    for (const char16_t* n : {u"姓名", u"ID", u"性别", u"出生日期", u"个人简介"})
      cols.push_back(rs->ColumnIndex(n));
  }
  long rows = 0;
  mdb::Value v;
  for (Check(rs->MoveFirst(), "move first"); !rs->AtEnd(); Check(rs->MoveNext(), "move next")) {
    for (int c : cols) Check(rs->Get(c, &v), "get");
    ++rows;
  }
  return rows;
}

// The program's list fill through the database unit: the same fields read
// by name and converted to texts, as the person list shows them.
long UnitFill(vorta::DatabaseUnit* unit, const rt::Text& sql) {
  int rs = unit->Query(sql);
  if (rs == 0) Die("query failed: " + unit->last_error());
  static const rt::Text kName = Gbk(u"姓名"), kId = "ID", kSex = Gbk(u"性别"),
                        kBirth = Gbk(u"出生日期"), kProfile = Gbk(u"个人简介");
  long rows = 0;
  size_t bytes = 0;
  unit->MoveFirst(rs);
  while (!unit->IsAfterLast(rs)) {
    rt::Value name = unit->ReadField(rs, kName);
    rt::Value id = unit->ReadField(rs, kId);
    rt::Value sex = unit->ReadField(rs, kSex);
    rt::Text birth = vorta::ToText(unit->ReadField(rs, kBirth));
    rt::Text profile = vorta::ToText(unit->ReadField(rs, kProfile));
    bytes += vorta::ToText(name).size() + birth.size() + profile.size() + (sex.empty() ? 0 : 1) +
             (id.empty() ? 0 : 1);
    unit->MoveNext(rs);
    ++rows;
  }
  unit->CloseRecordSet(rs);
  if (rows > 0 && bytes == 0) Die("list fill read nothing");
  return rows;
}

int RunRead(const Args& a) {
  const rt::Text path = text::Utf8ToGb18030(a.file), password = text::Utf8ToGb18030(a.password);
  std::vector<Case> cases;

  // Open with the password and log in, as the program starts.
  const rt::Text login = Gbk(u"select * from [用户表] where [用户名]='张三'");
  cases.push_back(Measure("open+login", std::max(a.reps, 11), [&]() -> long {
    vorta::DatabaseUnit unit;
    if (!unit.OpenMdb(path, password)) Die("open failed: " + unit.last_error());
    int rs = unit.Query(login);
    if (rs == 0) Die("login query failed: " + unit.last_error());
    unit.MoveFirst(rs);
    long found = 0;
    if (!unit.IsAfterLast(rs)) {
      found = vorta::ToText(unit.ReadField(rs, Gbk(u"密码"))) == "580274" &&
              !unit.ReadField(rs, "ID").empty();
    }
    unit.CloseRecordSet(rs);
    if (found != 1) Die("login lookup did not find the account 张三 with its password");
    return found;
  }));

  auto db = OpenDb(a, true);
  const std::u16string all = u"select * from [用户信息表]";
  cases.push_back(Measure("scan.engine.all-columns", a.reps, [&] { return EngineWalk(db.get(), all, true); }));

  vorta::DatabaseUnit unit;
  if (!unit.OpenMdb(path, password)) Die("open failed: " + unit.last_error());
  struct Stmt {
    const char* name;
    std::u16string sql;
  };
  std::u16string exact = u"select * from [用户信息表] where [姓名]='";
  exact += bench::ExactSearchName();
  exact += u"'";
  const Stmt stmts[] = {
      {"scan", all},
      {"exact", exact},
      {"fuzzy", u"select * from [用户信息表] where [姓名] like '%张%'"},
      {"statistic", u"select * from [用户信息表] where [出生日期] between #1980-1-1 0:0:0# and "
                    u"#1989-12-31 0:0:0# order by [姓名] asc"},
  };
  for (const Stmt& s : stmts) {
    cases.push_back(Measure(std::string(s.name) + ".engine.list-columns", a.reps,
                            [&] { return EngineWalk(db.get(), s.sql, false); }));
    rt::Text gbk = text::Utf16ToGb18030(s.sql);
    cases.push_back(Measure(std::string(s.name) + ".unit.list-fill", a.reps, [&] { return UnitFill(&unit, gbk); }));
  }
  for (const Case& c : cases) std::printf("RESULT %s %.3f %ld\n", c.name.c_str(), c.median_ms, c.rows);
  std::printf("RESULT read.peak-rss-kb %ld 0\n", PeakRssKb());
  return 0;
}

// ---- write: durable single statements ------------------------------------

struct Rate {
  double seconds = 0, median_ms = 0;
  long ops = 0;
};

Rate Timed(long n, const std::function<void(long)>& op) {
  std::vector<double> each;
  each.reserve(n);
  auto start = Clock::now();
  for (long i = 0; i < n; ++i) {
    auto t = Clock::now();
    op(i);
    each.push_back(MsSince(t));
  }
  return {MsSince(start) / 1000.0, Median(each), n};
}

// Two operations taking turns, each timed apart: both meet the same disk,
// whose fsync latency may change several times a minute on a shared machine.
// prepare (untimed) makes each turn's data.
std::pair<Rate, Rate> TimedInTurns(long n, const std::function<void(long)>& prepare, const std::function<void(long)>& a,
                                   const std::function<void(long)>& b) {
  std::vector<double> ea, eb;
  double sa = 0, sb = 0;
  for (long i = 0; i < n; ++i) {
    prepare(i);
    auto t = Clock::now();
    a(i);
    ea.push_back(MsSince(t));
    t = Clock::now();
    b(i);
    eb.push_back(MsSince(t));
    sa += ea.back();
    sb += eb.back();
  }
  return {Rate{sa / 1000.0, Median(ea), n}, Rate{sb / 1000.0, Median(eb), n}};
}

std::vector<int64_t> IdsAbove(vorta::DatabaseUnit* unit, int64_t floor) {
  int rs = unit->Query(Gbk(u"select * from [用户信息表] where [ID]>") + std::to_string(floor));
  if (rs == 0) Die("id query failed: " + unit->last_error());
  std::vector<int64_t> ids;
  for (unit->MoveFirst(rs); !unit->IsAfterLast(rs); unit->MoveNext(rs))
    ids.push_back(unit->ReadField(rs, "ID").integer());
  unit->CloseRecordSet(rs);
  return ids;
}

int64_t MaxId(const Args& a) {
  auto db = OpenDb(a, true);
  std::unique_ptr<mdb::Table> t;
  Check(db->OpenTable(u"用户信息表", &t), "open table");
  int id_col = t->ColumnIndex(u"ID");
  int64_t max = 0;
  auto cur = t->Scan();
  mdb::Value v;
  while (cur->Next()) {
    Check(cur->Get(id_col, &v), "get");
    if (v.index() == 2) max = std::max(max, std::get<int64_t>(v));
  }
  Check(cur->status(), "scan");
  return max;
}

void PrintRate(const char* name, const Rate& r) {
  std::printf("RESULT %s.rows-per-s %.1f %ld\n", name, r.ops / r.seconds, r.ops);
  std::printf("RESULT %s.median-ms %.3f %ld\n", name, r.median_ms, r.ops);
}

int RunWrite(const Args& a) {
  const size_t photo_bytes = static_cast<size_t>(a.photo_kb) * 1024;

  int64_t floor = MaxId(a);
  vorta::DatabaseUnit unit;
  if (!unit.OpenMdb(text::Utf8ToGb18030(a.file), text::Utf8ToGb18030(a.password))) Die("open failed: " + unit.last_error());
  const rt::Text adder = Gbk(u"张三");

  // The floor, the same bytes to a plain file beside the database with one
  // fsync each, in turns with the inserts.
  std::string plain = a.file + ".plain";
  int fd = ::open(plain.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
  if (fd < 0) Die("cannot create " + plain);
  std::string block = bench::MakePhoto(1, photo_bytes);
  bench::Person p;
  auto [plain_rate, ins] = TimedInTurns(
      a.count, [&](long i) { p = bench::MakePerson(1000000 + i, 1, photo_bytes); },
      [&](long) {
        if (::write(fd, block.data(), block.size()) != static_cast<ssize_t>(block.size()) || ::fsync(fd) != 0)
          Die("plain write failed");
      },
      [&](long) {
        rt::Text date = vorta::ToText(rt::Value::FromDate({p.birth_oa}));
        rt::Text sql = Gbk(u"insert into [用户信息表] ([姓名],[性别],[个人简介],[出生日期],[添加者],[照片]) values ('") +
                       text::Utf16ToGb18030(p.name) + "'," + (p.male ? "true" : "false") + ",'" +
                       text::Utf16ToGb18030(p.profile) + "','" + date + "','" + adder + "',?)";
        if (!unit.ExecuteSql(sql, &p.photo)) Die("insert failed: " + unit.last_error());
      });
  ::close(fd);
  ::unlink(plain.c_str());
  PrintRate("plain-file-fsync", plain_rate);
  PrintRate("insert", ins);
  std::printf("RESULT insert-vs-plain-file %.3f 0\n", (ins.ops / ins.seconds) / (plain_rate.ops / plain_rate.seconds));

  std::vector<int64_t> ids = IdsAbove(&unit, floor);
  if (static_cast<long>(ids.size()) != a.count) Die("the inserted rows are not all there");

  Rate upd = Timed(a.count, [&](long i) {
    bench::Person p = bench::MakePerson(2000000 + i, 1, photo_bytes);
    rt::Text date = vorta::ToText(rt::Value::FromDate({p.birth_oa}));
    rt::Text sql = Gbk(u"update  [用户信息表] set [姓名]='") + text::Utf16ToGb18030(p.name) + Gbk(u"',[性别]=") +
                   (p.male ? "true" : "false") + Gbk(u",[个人简介]='") + text::Utf16ToGb18030(p.profile) +
                   Gbk(u"',[出生日期]='") + date + Gbk(u"',[添加者]='") + adder + Gbk(u"',[照片]=? where [ID]=") +
                   std::to_string(ids[i]);
    if (!unit.ExecuteSql(sql, &p.photo)) Die("update failed: " + unit.last_error());
  });
  PrintRate("update", upd);

  Rate del = Timed(a.count, [&](long i) {
    rt::Text sql = Gbk(u"delete from [用户信息表]  where  [ID]=") + std::to_string(ids[i]);
    if (!unit.ExecuteSql(sql, nullptr)) Die("delete failed: " + unit.last_error());
  });
  PrintRate("delete", del);
  if (!IdsAbove(&unit, floor).empty()) Die("deleted rows are still there");
  return 0;
}

// ---- share: a long reader and a writer in two processes --------------------

rt::Text InsertStatement(const bench::Person& p, const rt::Text& adder) {
  rt::Text date = vorta::ToText(rt::Value::FromDate({p.birth_oa}));
  return Gbk(u"insert into [用户信息表] ([姓名],[性别],[个人简介],[出生日期],[添加者],[照片]) values ('") +
         text::Utf16ToGb18030(p.name) + "'," + (p.male ? "true" : "false") + ",'" + text::Utf16ToGb18030(p.profile) + "','" +
         date + "','" + adder + "',?)";
}

// The reader: the whole table, walked at a pace that makes it last the
// given time; its record set keeps one state all along.
int ShareReader(const Args& a, int ready_fd) {
  uint32_t expected = 0;
  {
    auto db = OpenDb(a, true);
    std::unique_ptr<mdb::Table> t;
    Check(db->OpenTable(u"用户信息表", &t), "open table");
    expected = t->row_count();
  }
  vorta::DatabaseUnit unit;
  if (!unit.OpenMdb(text::Utf8ToGb18030(a.file), text::Utf8ToGb18030(a.password))) Die("reader: " + unit.last_error());
  int rs = unit.Query(Gbk(u"select * from [用户信息表]"));
  if (rs == 0) Die("reader: " + unit.last_error());
  unit.MoveFirst(rs);
  char c = 1;
  if (::write(ready_fd, &c, 1) != 1) Die("reader: cannot signal");
  const rt::Text kName = Gbk(u"姓名"), kBirth = Gbk(u"出生日期");
  const auto start = Clock::now();
  long rows = 0;
  while (!unit.IsAfterLast(rs)) {
    vorta::ToText(unit.ReadField(rs, kName));
    vorta::ToText(unit.ReadField(rs, kBirth));
    unit.MoveNext(rs);
    ++rows;
    const double due_ms = a.seconds * 1000.0 * rows / std::max<uint32_t>(expected, 1);
    const double ahead = due_ms - MsSince(start);
    if (ahead > 1) std::this_thread::sleep_for(std::chrono::microseconds(static_cast<long>(ahead * 1000)));
  }
  unit.CloseRecordSet(rs);
  std::printf("RESULT share.reader-seconds %.1f %ld\n", MsSince(start) / 1000, rows);
  std::printf("RESULT share.reader-saw-one-state %d %ld\n", rows == static_cast<long>(expected) ? 1 : 0, rows);
  std::fflush(stdout);
  return 0;
}

int RunShare(const Args& a) {
  const size_t photo_bytes = static_cast<size_t>(a.photo_kb) * 1024;
  const int64_t floor = MaxId(a);
  int ready[2];
  if (::pipe(ready) != 0) Die("pipe");
  std::fflush(stdout);
  const pid_t pid = ::fork();
  if (pid < 0) Die("fork");
  if (pid == 0) std::_Exit(ShareReader(a, ready[1]));
  char c = 0;
  if (::read(ready[0], &c, 1) != 1) Die("the reader did not start");

  vorta::DatabaseUnit unit;
  if (!unit.OpenMdb(text::Utf8ToGb18030(a.file), text::Utf8ToGb18030(a.password))) Die("open failed: " + unit.last_error());
  const rt::Text adder = Gbk(u"张三");
  std::vector<double> each;
  long failures = 0;
  const auto start = Clock::now();
  for (long i = 0; i < a.count; ++i) {
    const double due_ms = a.seconds * 1000.0 * i / std::max(a.count, 1L);
    const double ahead = due_ms - MsSince(start);
    if (ahead > 1) std::this_thread::sleep_for(std::chrono::microseconds(static_cast<long>(ahead * 1000)));
    bench::Person p = bench::MakePerson(3000000 + i, 1, photo_bytes);
    const auto t = Clock::now();
    if (!unit.ExecuteSql(InsertStatement(p, adder), &p.photo)) {
      ++failures;
      std::fprintf(stderr, "insert %ld failed: %s\n", i, unit.last_error().c_str());
    }
    each.push_back(MsSince(t));
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Die("the reader failed");
  std::printf("RESULT share.insert-median-ms %.3f %ld\n", Median(each), a.count);
  std::printf("RESULT share.insert-max-ms %.3f %ld\n", each.empty() ? 0 : *std::max_element(each.begin(), each.end()),
              a.count);
  std::printf("RESULT share.insert-failures %ld %ld\n", failures, a.count);
  // Leave the file as it was for the next run.
  for (int64_t id : IdsAbove(&unit, floor))
    if (!unit.ExecuteSql(Gbk(u"delete from [用户信息表]  where  [ID]=") + std::to_string(id), nullptr))
      Die("cleanup failed: " + unit.last_error());
  return 0;
}

// ---- keys: the cost of text index keys ------------------------------------

int RunKeys(const Args& a) {
  std::vector<std::u16string> names;
  for (long i = 0; i < a.count; ++i) names.push_back(bench::MakePerson(3000000 + i, 0, 0).name);
  // Keys alone, General (as a new file's columns), best of five passes.
  double best = 1e30;
  size_t bytes = 0;
  for (int pass = 0; pass < 5; ++pass) {
    std::string key;
    auto t = Clock::now();
    for (const auto& n : names) {
      key.clear();
      Check(mdb::EncodeTextKey(n, mdb::SortOrder{}, true, &key), "key");
      bytes += key.size();
    }
    best = std::min(best, MsSince(t));
  }
  std::printf("RESULT keys.encode-ns-per-name %.1f %ld\n", best * 1e6 / double(names.size()), a.count);
  std::printf("RESULT keys.bytes-per-name %.1f %ld\n", double(bytes) / 5 / double(names.size()), a.count);

  const rt::Text adder = Gbk(u"张三");
  for (bool indexed : {false, true}) {
    std::string file = a.file + (indexed ? "/keys-indexed.mdb" : "/keys-plain.mdb");
    ::unlink(file.c_str());
    mdb::CreateOptions o;
    o.password = text::Utf8ToUtf16(a.password);
    o.index_person_names = indexed;
    Check(mdb::Database::Create(mdb::Env::Default(), file, o), "create");
    vorta::DatabaseUnit unit;
    if (!unit.OpenMdb(text::Utf8ToGb18030(file), text::Utf8ToGb18030(a.password))) Die("open failed: " + unit.last_error());
    Rate ins = Timed(a.count, [&](long i) {
      bench::Person p = bench::MakePerson(3000000 + i, 0, 0);
      rt::Text date = vorta::ToText(rt::Value::FromDate({p.birth_oa}));
      rt::Text sql = Gbk(u"insert into [用户信息表] ([姓名],[性别],[个人简介],[出生日期],[添加者],[照片]) values ('") +
                     text::Utf16ToGb18030(p.name) + "'," + (p.male ? "true" : "false") + ",'" +
                     text::Utf16ToGb18030(p.profile) + "','" + date + "','" + adder + "',?)";
      if (!unit.ExecuteSql(sql, &p.photo)) Die("insert failed: " + unit.last_error());
    });
    PrintRate(indexed ? "keys.insert-name-indexed" : "keys.insert-plain", ins);
    unit.CloseDatabase();
    // The same persons again in one transaction: what an insert costs apart
    // from its commit (the key and the index's upkeep included).
    {
      std::unique_ptr<mdb::Database> db;
      mdb::OpenOptions oo;
      oo.password = o.password;
      Check(mdb::Database::Open(mdb::Env::Default(), file, oo, &db), "open");
      std::unique_ptr<mdb::Table> t;
      Check(db->OpenTable(u"用户信息表", &t), "open table");
      Check(db->Begin(), "begin");
      Rate batch = Timed(a.count, [&](long i) {
        bench::Person p = bench::MakePerson(4000000 + i, 0, 0);
        std::vector<mdb::Value> row = {mdb::Value(), p.name, p.male, p.profile, mdb::Date{p.birth_oa},
                                       std::u16string(u"张三"), mdb::Value()};
        Check(t->Insert(row, nullptr, nullptr), "insert");
      });
      Check(db->Commit(), "commit");
      PrintRate(indexed ? "keys.batch-insert-name-indexed" : "keys.batch-insert-plain", batch);
    }
    ::unlink(file.c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: usermgr-bench scan|read|write|share|keys FILE [--reps N] [--count N] [--photo-kb KB] [--seconds S] [--password P]\n");
    return 2;
  }
  std::string cmd = argv[1];
  Args a = ParseArgs(argc, argv);
  if (cmd == "scan") return RunScan(a);
  if (cmd == "read") return RunRead(a);
  if (cmd == "write") return RunWrite(a);
  if (cmd == "share") return RunShare(a);
  if (cmd == "keys") return RunKeys(a);
  Die("unknown command " + cmd);
}
