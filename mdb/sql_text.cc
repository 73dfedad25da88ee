#include "mdb/sql_text.h"

#include "mdb/value_format.h"

namespace mdb {

std::string SqlUtf8(std::u16string_view s) { return Utf16ToUtf8Lossy(std::u16string(s)); }

}  // namespace mdb
