#include "mdb/system_catalog.h"

#include "mdb/jet4.h"

namespace mdb {
namespace syscat {

namespace {

using T = ColumnType;
// Column flags of the system tables: fixed, variable, and the binary
// columns that hold accounts.
constexpr uint8_t kFixed = 0x13, kVariable = 0x12, kAccountColumn = 0x32;

ColumnLayout Col(const char16_t* name, T type, uint16_t number, uint16_t length, uint8_t flags) {
  return ColumnLayout{name, type, number, length, flags, false};
}

}  // namespace

std::string SidOf(Account a) {
  // The engine's account as the empty database stores it; the others differ
  // from it by fixed bits in every file Access made.
  static const uint8_t kEngine[2] = {0xA7, 0x31};
  uint16_t diff = a == Account::kAdmin ? 0x0102 : a == Account::kUsers ? 0x0002 : a == Account::kCreator ? 0x0007 : 0;
  return std::string{char(kEngine[0] ^ (diff >> 8)), char(kEngine[1] ^ (diff & 0xFF))};
}

std::vector<TableLayout> SystemTables() {
  std::vector<TableLayout> t(4);
  t[0].name = u"MSysObjects";
  t[0].columns = {Col(u"Connect", T::kMemo, 9, 0, kVariable),      Col(u"Database", T::kMemo, 8, 0, kVariable),
                  Col(u"DateCreate", T::kDateTime, 4, 8, kFixed),  Col(u"DateUpdate", T::kDateTime, 5, 8, kFixed),
                  Col(u"Flags", T::kLong, 7, 4, kFixed),           Col(u"ForeignName", T::kText, 10, 510, kVariable),
                  Col(u"Id", T::kLong, 0, 4, kFixed),              Col(u"Lv", T::kOle, 13, 0, kVariable),
                  Col(u"LvExtra", T::kOle, 16, 0, kVariable),      Col(u"LvModule", T::kOle, 15, 0, kVariable),
                  Col(u"LvProp", T::kOle, 14, 0, kVariable),       Col(u"Name", T::kText, 2, 510, kVariable),
                  Col(u"Owner", T::kBinary, 6, 510, kAccountColumn), Col(u"ParentId", T::kLong, 1, 4, kFixed),
                  Col(u"RmtInfoLong", T::kOle, 12, 0, kVariable),  Col(u"RmtInfoShort", T::kBinary, 11, 510, kVariable),
                  Col(u"Type", T::kInt, 3, 2, kFixed)};
  t[0].real = {{{1, 2}, 0x81}, {{0}, 0x81}};
  t[0].logical = {{u"Id", 1, 1, jet4::kIndexKindPrimary}, {u"ParentIdName", 0, 0, 0}};
  t[1].name = u"MSysACEs";
  t[1].columns = {Col(u"ACM", T::kLong, 2, 4, kFixed), Col(u"FInheritable", T::kBool, 3, 1, kFixed),
                  Col(u"ObjectId", T::kLong, 0, 4, kFixed), Col(u"SID", T::kBinary, 1, 510, kAccountColumn)};
  t[1].real = {{{0}, 0x88}};
  t[1].logical = {{u"ObjectId", 0, 0, 0}};
  t[2].name = u"MSysQueries";
  t[2].columns = {Col(u"Attribute", T::kByte, 1, 1, kFixed),    Col(u"Expression", T::kMemo, 5, 0, kVariable),
                  Col(u"Flag", T::kInt, 6, 2, kFixed),          Col(u"LvExtra", T::kLong, 7, 4, kFixed),
                  Col(u"Name1", T::kText, 3, 510, kVariable),   Col(u"Name2", T::kText, 4, 510, kVariable),
                  Col(u"ObjectId", T::kLong, 0, 4, kFixed),     Col(u"Order", T::kBinary, 2, 510, kVariable)};
  t[2].real = {{{0, 1, 2}, 0x81}};
  t[2].logical = {{u"ObjectIdAttribute", 0, 0, jet4::kIndexKindPrimary}};
  t[3].name = u"MSysRelationships";
  t[3].columns = {Col(u"ccolumn", T::kLong, 2, 4, kFixed),           Col(u"grbit", T::kLong, 1, 4, kFixed),
                  Col(u"icolumn", T::kLong, 3, 4, kFixed),           Col(u"szColumn", T::kText, 5, 510, kVariable),
                  Col(u"szObject", T::kText, 4, 510, kVariable),     Col(u"szReferencedColumn", T::kText, 7, 510, kVariable),
                  Col(u"szReferencedObject", T::kText, 6, 510, kVariable), Col(u"szRelationship", T::kText, 0, 510, kVariable)};
  t[3].real = {{{0}, 0x82}, {{4}, 0x82}, {{6}, 0x82}};
  t[3].logical = {{u"szObject", 1, 1, 0}, {u"szReferencedObject", 2, 2, 0}, {u"szRelationship", 0, 0, 0}};
  uint16_t row = 0;
  uint32_t root = kSystemMapPage + 1;
  for (size_t i = 0; i < t.size(); ++i) {
    t[i].system = true;
    t[i].tdef = uint32_t(jet4::kCatalogTdefPage + i);
    t[i].map_page = kSystemMapPage;
    t[i].first_map_row = row;
    row = uint16_t(row + MapRowCount(t[i]));
    for (size_t k = 0; k < t[i].real.size(); ++k) t[i].roots.push_back(root++);
  }
  return t;
}

std::vector<BuiltinObject> BuiltinObjects() {
  using A = Account;
  const std::vector<Ace> kAccessContainer = {{A::kUsers, 1048575, true}, {A::kAdmin, 1048575, true},
                                             {A::kCreator, 1048575, true}};
  const std::vector<Ace> kEngineTable = {{A::kAdmin, 393216, false}, {A::kUsers, 20, false}};
  std::vector<BuiltinObject> o = {
      {kTablesId, kRootId, u"Tables", kTypeContainer, kSystemObject, A::kEngine,
       {{A::kCreator, 983294, true}, {A::kAdmin, 1048319, true}, {A::kUsers, 1048319, true}}},
      {kDatabasesId, kRootId, u"Databases", kTypeContainer, kSystemObject, A::kEngine, {{A::kAdmin, 393216, false}}},
      {kRelationshipsId, kRootId, u"Relationships", kTypeContainer, kSystemObject, A::kEngine,
       {{A::kCreator, 983294, true}, {A::kAdmin, 393217, false}, {A::kUsers, 1048575, true}}},
      {kDatabaseObjectId, kDatabasesId, u"MSysDb", kTypeDatabase, kSystemObject, A::kAdmin,
       {{A::kAdmin, 393230, false}, {A::kUsers, 14, false}}},
      {2, kTablesId, u"MSysObjects", kTypeTable, kSystemObject, A::kEngine, kEngineTable},
      {3, kTablesId, u"MSysACEs", kTypeTable, kSystemObject, A::kEngine, {{A::kAdmin, 393216, false}}},
      {4, kTablesId, u"MSysQueries", kTypeTable, kSystemObject, A::kEngine, kEngineTable},
      {5, kTablesId, u"MSysRelationships", kTypeTable, kSystemObject, A::kEngine,
       {{A::kAdmin, 917504, false}, {A::kUsers, 20, false}}},
  };
  // Access's own containers, which it would otherwise add when it first
  // opens the file.
  const char16_t* kContainers[] = {u"DataAccessPages", u"Forms", u"Modules", u"Reports", u"Scripts", u"SysRel"};
  uint32_t id = kFirstDocumentId;
  for (const char16_t* name : kContainers) o.push_back({id++, kRootId, name, kTypeContainer, 0, A::kAdmin, kAccessContainer});
  return o;
}

std::vector<StoredAce> InheritedAces(const std::vector<StoredAce>& container, const std::string& creator_sid,
                                     const std::string& owner_sid) {
  std::vector<StoredAce> out;
  for (const StoredAce& a : container) {
    if (!a.inheritable) continue;
    const std::string& sid = a.sid == creator_sid ? owner_sid : a.sid;
    bool merged = false;
    for (StoredAce& o : out)
      if (o.sid == sid) {
        o.rights |= a.rights;
        merged = true;
      }
    if (!merged) out.push_back({sid, a.rights, false});
  }
  return out;
}

}  // namespace syscat
}  // namespace mdb
