// usermgr-db create FILE [--password P] [--user NAME --user-password P]:
// a new database with the program's tables, relationship and first account.
#include <cstdio>
#include <memory>

#include "mdb/mdb.h"
#include "tools/command.h"
#include "vorta/text_codec.h"

namespace tool {
namespace {

int RunCreate(const std::vector<std::string>& in) {
  std::vector<std::string> args = in;
  std::string password = "580274", user = "张三", user_password = "580274";
  TakeOption(&args, "--password", &password);
  TakeOption(&args, "--user", &user);
  TakeOption(&args, "--user-password", &user_password);
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: usermgr-db create FILE [--password P] [--user NAME --user-password P]\n");
    return 2;
  }
  mdb::CreateOptions options;
  options.password = text::Utf8ToUtf16(password);
  options.first_user = text::Utf8ToUtf16(user);
  options.first_password = text::Utf8ToUtf16(user_password);
  mdb::Status s = mdb::Database::Create(mdb::Env::Default(), args[0], options);
  if (!s.ok()) {
    std::fprintf(stderr, "usermgr-db create: %s: %s\n", args[0].c_str(), s.ToString().c_str());
    return 1;
  }
  std::printf("created %s\n", args[0].c_str());
  return 0;
}

Registrar reg({"create", "create FILE [--password P] [--user NAME --user-password P]   new database with the program's tables",
               RunCreate});

}  // namespace
}  // namespace tool
