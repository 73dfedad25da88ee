// The companion's sub-commands. Each lives in its own file and registers
// itself with a static Registrar, so adding one needs no edit elsewhere.
#pragma once

#include <string>
#include <vector>

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

// Picks "--name value" out of args; true when present. Removes both words.
bool TakeOption(std::vector<std::string>* args, const std::string& name, std::string* value);
// Picks a bare "--name" flag out of args.
bool TakeFlag(std::vector<std::string>* args, const std::string& name);

}  // namespace tool
