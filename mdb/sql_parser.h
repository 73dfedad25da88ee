// The lexer and parser of the SQL dialect: names bare or in [brackets],
// 'text' with '' for an apostrophe, numbers, #date# literals, one "?".
#pragma once

#include <string>

#include "mdb/sql_ast.h"
#include "mdb/status.h"

namespace mdb {

// Fails with InvalidArgument and a message naming the place of the fault.
Status ParseStatement(const std::u16string& sql, Statement* out);

}  // namespace mdb
