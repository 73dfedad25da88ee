// usermgr-db: create, check, query and change the program's database files.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "mdb/mdb.h"
#include "tools/command.h"
#include "vorta/text_codec.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

namespace tool {

static std::vector<Command>& Registry() {
  static std::vector<Command> commands;
  return commands;
}

Registrar::Registrar(const Command& c) { Registry().push_back(c); }
const std::vector<Command>& Commands() { return Registry(); }

bool OpenDatabase(const char* command, const std::string& path, const std::string& password,
                  bool read_only, std::unique_ptr<mdb::Database>* db) {
  mdb::OpenOptions options;
  options.read_only = read_only;
  options.password = text::Utf8ToUtf16(password);
  mdb::Status s = mdb::Database::Open(mdb::Env::Default(), path, options, db);
  if (s.ok()) return true;
  std::fprintf(stderr, "usermgr-db %s: %s: %s\n", command, path.c_str(), s.ToString().c_str());
  return false;
}

bool TakeOption(std::vector<std::string>* args, const std::string& name, std::string* value) {
  for (size_t i = 0; i + 1 < args->size(); ++i) {
    if ((*args)[i] == name) {
      *value = (*args)[i + 1];
      args->erase(args->begin() + i, args->begin() + i + 2);
      return true;
    }
  }
  return false;
}

bool TakeFlag(std::vector<std::string>* args, const std::string& name) {
  for (size_t i = 0; i < args->size(); ++i) {
    if ((*args)[i] == name) {
      args->erase(args->begin() + i);
      return true;
    }
  }
  return false;
}

static int Usage(FILE* out) {
  std::fprintf(out, "usage: usermgr-db COMMAND ARGS...\n\ncommands:\n");
  for (const Command& c : Commands()) std::fprintf(out, "  %s\n", c.usage);
  return out == stderr ? 2 : 0;
}

}  // namespace tool

int main(int argc, char** argv) {
  std::vector<std::string> args;
#ifdef _WIN32
  // Arguments arrive as UTF-16; the commands take UTF-8.
  int wargc = 0;
  wchar_t** wargv = CommandLineToArgvW(GetCommandLineW(), &wargc);
  for (int i = 1; i < wargc; ++i)
    args.push_back(text::Utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(wargv[i]))));
  LocalFree(wargv);
  SetConsoleOutputCP(CP_UTF8);
#else
  for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
#endif
  if (args.empty()) return tool::Usage(stderr);
  std::string name = args.front();
  args.erase(args.begin());
  if (name == "help" || name == "--help" || name == "-h") return tool::Usage(stdout);
  for (const tool::Command& c : tool::Commands())
    if (name == c.name) return c.run(args);
  std::fprintf(stderr, "usermgr-db: unknown command '%s'\n", name.c_str());
  return tool::Usage(stderr);
}
