// UTF-16 to UTF-8 for the SQL layer's messages (the engine has no codec
// dependency of its own).
#pragma once

#include <string>
#include <string_view>

namespace mdb {

std::string SqlUtf8(std::u16string_view s);

}  // namespace mdb
