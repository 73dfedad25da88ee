// The companion's sub-commands. Each lives in its own file and registers
// itself with a static Registrar, so adding one needs no edit elsewhere.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace mdb {
class Database;
}

namespace tool {

struct Command {
  const char* name;
  const char* usage;  // shown by "usermgr-db help"
  // args: the words after the command name (UTF-8). Returns the exit code.
  int (*run)(const std::vector<std::string>& args);
};

struct Registrar {
  explicit Registrar(const Command& c);
};

const std::vector<Command>& Commands();

// The program's database password: what --password means when it is not
// given (a file without a password opens with any).
inline constexpr const char* kDefaultPassword = "580274";

// Opens a database file with a UTF-8 password; on failure prints
// "usermgr-db COMMAND: FILE: reason" to stderr and returns false.
bool OpenDatabase(const char* command, const std::string& path, const std::string& password,
                  bool read_only, std::unique_ptr<mdb::Database>* db);

// Picks "--name value" out of args; true when present. Removes both words.
bool TakeOption(std::vector<std::string>* args, const std::string& name, std::string* value);
// Picks a bare "--name" flag out of args.
bool TakeFlag(std::vector<std::string>* args, const std::string& name);

}  // namespace tool
