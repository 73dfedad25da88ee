// `usermgr-db query` over every table of the Access fixtures gives the same
// rows as mdb-export, an independent reader (formats normalised: dates,
// yes/no words, number notation; row order ignored).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <unistd.h>
#include <regex>
#include <string>
#include <vector>

#include "mdb/mdb.h"
#include "mdb/sql.h"
#include "tests/mdb/reader_util.h"

// The comparison needs mdbtools and a POSIX shell.
#ifndef _WIN32

namespace {

using readertest::ParseCsv;

std::string RunShell(const std::string& cmd, int* status) { return readertest::RunCommand(cmd, status); }
std::string Quote(const std::string& s) { return readertest::ShellQuote(s); }

std::string Normalise(const std::string& v) {
  static const std::regex kDay(R"(\d{4}-\d\d-\d\d)");
  if (v.empty()) return v;
  // mdbtools reads a text stored as the two bytes FF FE (U+FEFF stored
  // plainly) as an empty compressed text; the engine reads U+FEFF.
  if (v == "\xEF\xBB\xBF") return "";
  if (std::regex_match(v, kDay)) return v + " 00:00:00";
  std::string lower = v;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower == "true" || lower == "false") return lower;
  char* end = nullptr;
  double d = std::strtod(v.c_str(), &end);
  if (end && *end == 0 && v.find_first_not_of("0123456789.-+eE") == std::string::npos) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.6g", d);
    return buf;
  }
  return v;
}

std::vector<std::vector<std::string>> Rows(const std::string& csv, std::vector<std::string>* header) {
  auto rows = ParseCsv(csv);
  if (!rows.empty()) {
    *header = rows.front();
    rows.erase(rows.begin());
  }
  for (auto& r : rows)
    for (auto& f : r) f = Normalise(f);
  std::sort(rows.begin(), rows.end());
  return rows;
}

TEST(ExportMatch, EveryFixtureTable) {
  int st = 0;
  RunShell("command -v mdb-export", &st);
  if (st != 0) GTEST_SKIP() << "mdb-export is not installed";
  const std::string dir = USERMGR_FIXTURES_DIR;
  const std::string tool = std::string(USERMGR_BINARY_DIR) + "/usermgr-db";
  DIR* d = opendir(dir.c_str());
  ASSERT_NE(d, nullptr);
  std::vector<std::string> files;
  while (dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n.size() > 4 && n.substr(n.size() - 4) == ".mdb") files.push_back(n);
  }
  closedir(d);
  ASSERT_GE(files.size(), 10u);
  int tables_compared = 0;
  for (const std::string& f : files) {
    std::string path = dir + "/" + f;
    std::string password = f.find("with-password") != std::string::npos ? " --password password" : "";
    std::string list = RunShell("mdb-tables -1 " + Quote(path), &st);
    ASSERT_EQ(st, 0) << f;
    size_t pos = 0;
    while (pos < list.size()) {
      size_t nl = list.find('\n', pos);
      std::string table = list.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
      pos = nl == std::string::npos ? list.size() : nl + 1;
      if (table.empty()) continue;
      SCOPED_TRACE(f + " " + table);
      std::string ours = RunShell(Quote(tool) + " query " + Quote(path) + " " + Quote("select * from [" + table + "]") +
                                 " --hex" + password,
                             &st);
      ASSERT_EQ(st, 0);
      std::string theirs = RunShell("mdb-export -T '%Y-%m-%d %H:%M:%S' -B -b hex " + Quote(path) + " " + Quote(table), &st);
      ASSERT_EQ(st, 0);
      std::vector<std::string> h1, h2;
      auto a = Rows(ours, &h1);
      auto b = Rows(theirs, &h2);
      EXPECT_EQ(h1, h2);
      EXPECT_EQ(a, b);
      ++tables_compared;
    }
  }
  EXPECT_GE(tables_compared, 14);
}

TEST(ExportMatch, QueryErrorsGoToStderrWithFailure) {
  const std::string tool = std::string(USERMGR_BINARY_DIR) + "/usermgr-db";
  const std::string file = std::string(USERMGR_FIXTURES_DIR) + "/mr_data_V2000_test.mdb";
  int st = 0;
  std::string out = RunShell(Quote(tool) + " query " + Quote(file) + " 'select * from [NoSuchTable]' 2>/dev/null", &st);
  EXPECT_NE(st, 0);
  EXPECT_EQ(out, "");
  out = RunShell(Quote(tool) + " query " + Quote(file) + " 'select * from Table1 where' 2>&1", &st);
  EXPECT_NE(st, 0);
  EXPECT_NE(out.find("syntax error"), std::string::npos) << out;
  out = RunShell(Quote(tool) + " query " + Quote(std::string(USERMGR_FIXTURES_DIR) + "/mr_password_V2000_with-password.mdb") +
                " 'select * from Table1' --password wrong 2>/dev/null",
            &st);
  EXPECT_NE(st, 0);
}

TEST(CompanionCommands, ExecPrintsRowsAffectedAndStoresTheBlob) {
  const std::string tool = std::string(USERMGR_BINARY_DIR) + "/usermgr-db";
  char dir_template[] = "/tmp/sql_exec_XXXXXX";
  ASSERT_NE(mkdtemp(dir_template), nullptr);
  const std::string dir = dir_template;
  const std::string file = dir + "/access.mdb", blob = dir + "/photo.bin";
  {
    FILE* f = std::fopen(blob.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite("\x01\xff\x00" "A", 1, 4, f);
    std::fclose(f);
  }
  int st = 0;
  RunShell(Quote(tool) + " create " + Quote(file) + " --password 580274 >/dev/null", &st);
  ASSERT_EQ(st, 0);
  const std::string base = Quote(tool) + " exec " + Quote(file) + " --password 580274 ";
  // Statement texts are UTF-8 on the command line.
  std::string out = RunShell(base + Quote("insert into [\xe7\x94\xa8\xe6\x88\xb7\xe4\xbf\xa1\xe6\x81\xaf\xe8\xa1\xa8] "
                                          "([\xe5\xa7\x93\xe5\x90\x8d],[\xe7\x85\xa7\xe7\x89\x87]) values ('a',?)") +
                                 " --blob " + Quote(blob),
                             &st);
  EXPECT_EQ(st, 0);
  EXPECT_EQ(out, "1\n");
  out = RunShell(Quote(tool) + " query " + Quote(file) + " --password 580274 --hex " +
                     Quote("select [\xe7\x85\xa7\xe7\x89\x87] from [\xe7\x94\xa8\xe6\x88\xb7\xe4\xbf\xa1\xe6\x81\xaf\xe8\xa1\xa8]"),
                 &st);
  EXPECT_EQ(st, 0);
  EXPECT_EQ(out, "\"\xe7\x85\xa7\xe7\x89\x87\"\n01ff0041\n");
  out = RunShell(base + Quote("delete from [\xe7\x94\xa8\xe6\x88\xb7\xe4\xbf\xa1\xe6\x81\xaf\xe8\xa1\xa8] where [ID] = 999"), &st);
  EXPECT_EQ(st, 0);
  EXPECT_EQ(out, "0\n");
  // A broken statement: message on stderr, failure status, nothing on stdout.
  out = RunShell(base + Quote("delete from nowhere") + " 2>/dev/null", &st);
  EXPECT_NE(st, 0);
  EXPECT_EQ(out, "");
  out = RunShell(base + Quote("insert into x values (1)") + " --blob /no/such/file 2>&1", &st);
  EXPECT_NE(st, 0);
  EXPECT_NE(out.find("cannot read"), std::string::npos);
  RunShell("rm -rf " + Quote(dir), &st);
}

// UTF-8 whatever the narrow literals' encoding (GBK in these tests).
std::string U8(std::u8string_view s) { return std::string(s.begin(), s.end()); }

// Texts that CSV must quote, characters of every UTF-8 length, a NUL and a
// lone surrogate, dates with and without a time, a photo: `query` and `dump`
// print each exactly, whatever buffering they do.
TEST(CompanionCommands, QueryAndDumpPrintEveryValueExactly) {
  const std::string dir = readertest::TempDir("export_exact");
  const std::string file = dir + "/access.mdb";
  const std::string tool = std::string(USERMGR_BINARY_DIR) + "/usermgr-db";
  {
    ASSERT_TRUE(mdb::Database::Create(mdb::Env::Default(), file, mdb::CreateOptions{}).ok());
    std::unique_ptr<mdb::Database> db;
    ASSERT_TRUE(mdb::Database::Open(mdb::Env::Default(), file, mdb::OpenOptions{}, &db).ok());
    const std::u16string insert =
        u"insert into [用户信息表] ([姓名],[性别],[个人简介],[出生日期],[添加者],[照片]) values ";
    std::u16string odd = u"nul:";
    odd.push_back(u'\0');
    odd += u"|lone:";
    odd.push_back(char16_t(0xD800));
    odd += u"|pair:\U0001F600";
    mdb::Binary photo{std::string("\x00\x01\xab\xff", 4)};
    int64_t rows = 0;
    ASSERT_TRUE(mdb::ExecuteStatement(db.get(), insert + u"('say \"hi\", then\r\nbye',true,'a,b',#1990-5-7#,'张三',?)",
                                      &photo, &rows).ok());
    ASSERT_TRUE(mdb::ExecuteStatement(db.get(), insert + u"('" + odd + u"',false,'é','2001-12-23 14:05:09','x',?)",
                                      &photo, &rows).ok());
    // A photo on pages of its own (its size is read from its field), and none.
    mdb::Binary big{std::string(10000, 'p')};
    ASSERT_TRUE(mdb::ExecuteStatement(db.get(), insert + u"('big',true,'',#2000-1-1#,'x',?)", &big, &rows).ok());
    ASSERT_TRUE(mdb::ExecuteStatement(db.get(), u"insert into [用户信息表] ([姓名]) values ('none')", nullptr, &rows).ok());
  }
  int st = 0;
  const std::string sel = Quote(U8(u8"select [ID],[姓名],[性别],[个人简介],[出生日期],[照片] from [用户信息表]"));
  const std::string odd_utf8 = U8(u8"nul:") + '\0' + U8(u8"|lone:\uFFFD|pair:\U0001F600");
  EXPECT_EQ(RunShell(Quote(tool) + " query " + Quote(file) + " " + sel, &st),
            U8(u8"\"ID\",\"姓名\",\"性别\",\"个人简介\",\"出生日期\",\"照片\"\n"
               u8"1,\"say \"\"hi\"\", then\r\nbye\",true,\"a,b\",1990-05-07,4\n") +
                "2,\"" + odd_utf8 + U8(u8"\",false,\"é\",2001-12-23 14:05:09,4\n") +
                "3,\"big\",true,\"\",2000-01-01,10000\n4,\"none\",false,,,\n");
  EXPECT_EQ(st, 0);
  // Sizes from sorted rows too.
  EXPECT_EQ(RunShell(Quote(tool) + " query " + Quote(file) + " " +
                         Quote(U8(u8"select [照片] from [用户信息表] order by [ID] desc")), &st),
            U8(u8"\"照片\"\n\n10000\n4\n4\n"));
  std::string hex = RunShell(Quote(tool) + " query " + Quote(file) + " --hex " + sel, &st);
  EXPECT_NE(hex.find(",1990-05-07,0001abff\n"), std::string::npos) << hex;
  // dump: every column, bare header names, yes/no as 1/0, dates with a time.
  std::string dump = RunShell(Quote(tool) + " dump " + Quote(file) + " " + Quote(U8(u8"用户信息表")), &st);
  EXPECT_EQ(st, 0);
  auto csv = readertest::ParseCsv(dump);
  ASSERT_EQ(csv.size(), 5u) << dump;
  std::string p_hex;
  for (int i = 0; i < 10000; ++i) p_hex += "70";  // 'p'
  EXPECT_EQ(csv[3][6], p_hex);
  EXPECT_EQ(csv[1], (std::vector<std::string>{"1", "say \"hi\", then\r\nbye", "1", "a,b", "1990-05-07 00:00:00",
                                              U8(u8"张三"), "0001ABFF"}));
  EXPECT_EQ(csv[2][1], odd_utf8);
  EXPECT_EQ(csv[2][4], "2001-12-23 14:05:09");
  // A file that cannot be read: a failure and no rows.
  std::string none = RunShell(Quote(tool) + " dump " + Quote(dir + "/missing.mdb") + " x 2>/dev/null", &st);
  EXPECT_NE(st, 0);
  EXPECT_EQ(none, "");
  RunShell("rm -rf " + Quote(dir), &st);
}

}  // namespace

#endif  // _WIN32
