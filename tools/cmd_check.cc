// usermgr-db check FILE [--password P] [--strict]: verifies a database file
// and prints each fault found, then each note (states Access accepts but a
// stricter engine may not, such as row counts or index entries Access left
// stale); exit code 1 when there is any fault, or with --strict any note.
#include <cstdio>
#include <memory>

#include "mdb/mdb.h"
#include "tools/command.h"

namespace tool {
namespace {

int RunCheck(const std::vector<std::string>& in) {
  std::vector<std::string> args = in;
  std::string password = kDefaultPassword;
  TakeOption(&args, "--password", &password);
  bool strict = TakeFlag(&args, "--strict");
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: usermgr-db check FILE [--password P] [--strict]\n");
    return 2;
  }
  std::unique_ptr<mdb::Database> db;
  if (!OpenDatabase("check", args[0], password, true, &db)) return 1;
  std::vector<std::string> faults, notes;
  mdb::Status s = db->Check(&faults, &notes);
  for (const std::string& f : faults) std::printf("%s\n", f.c_str());
  for (const std::string& n : notes) std::printf("note: %s\n", n.c_str());
  if (!s.ok()) {
    std::fprintf(stderr, "usermgr-db check: %s: %s\n", args[0].c_str(), s.ToString().c_str());
    return 1;
  }
  if (!faults.empty()) {
    std::printf("%zu fault(s) in %s\n", faults.size(), args[0].c_str());
    return 1;
  }
  if (notes.empty()) std::printf("%s: no faults\n", args[0].c_str());
  else std::printf("%s: no faults, %zu note(s)\n", args[0].c_str(), notes.size());
  return strict && !notes.empty() ? 1 : 0;
}

Registrar reg({"check", "check FILE [--password P] [--strict]   verify pages, maps, row counts, indexes, long values, relationships",
               RunCheck});

}  // namespace
}  // namespace tool
