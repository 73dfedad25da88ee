// What every new database starts with, as Access writes it: the engine's
// four system tables, the containers and the database object, their owners
// and permission rows. The values are those of an empty database Access
// made (mdb/README.md lists them); the rule by which a new object inherits
// its container's permissions is the one Access's own files show.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mdb/table_layout.h"

namespace mdb {
namespace syscat {

// MSysObjects ids, kinds and flags.
constexpr uint32_t kRootId = 0x0F000000;  // parent of the containers
constexpr uint32_t kTablesId = 0x0F000001;
constexpr uint32_t kDatabasesId = 0x0F000002;
constexpr uint32_t kRelationshipsId = 0x0F000003;
constexpr uint32_t kDatabaseObjectId = 0x10000000;  // MSysDb
constexpr uint32_t kFirstDocumentId = 0x80000000;   // objects that are not tables count up from here
constexpr uint32_t kSystemObject = 0x80000000;      // Flags of the engine's own objects
constexpr int16_t kTypeTable = 1, kTypeDatabase = 2, kTypeContainer = 3, kTypeRelationship = 8;

// The accounts of owners and permission rows. A file stores each as two
// bytes; the values differ from file to file by one mask, the accounts
// keeping fixed differences (README).
enum class Account { kEngine, kAdmin, kUsers, kCreator };
std::string SidOf(Account a);

struct Ace {
  Account who;
  int32_t rights;  // MSysACEs.ACM
  bool inheritable;
};

struct BuiltinObject {
  uint32_t id, parent;
  std::u16string name;
  int16_t type;
  uint32_t flags;
  Account owner;
  std::vector<Ace> aces;
};

// The system tables, their definitions on pages 2 to 5, their maps on page
// 6 and their index roots on pages 7 to 13, as Access lays them out.
std::vector<TableLayout> SystemTables();
constexpr uint32_t kSystemMapPage = 6;
constexpr uint32_t kFirstFreePage = 14;

// The rows MSysObjects starts with, in the order Access writes them.
std::vector<BuiltinObject> BuiltinObjects();

// A stored permission row.
struct StoredAce {
  std::string sid;
  int32_t rights;
  bool inheritable;
};
// The rows a new object gets from its container: each inheritable row of
// the container, the creator's as the owner's, one row per account (their
// rights merged), none inheritable.
std::vector<StoredAce> InheritedAces(const std::vector<StoredAce>& container, const std::string& creator_sid,
                                     const std::string& owner_sid);

}  // namespace syscat
}  // namespace mdb
