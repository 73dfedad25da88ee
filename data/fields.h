// Reading field values of the kinds the workflows expect. Each returns false
// for a value of another kind; the caller then ends its work there.
#pragma once

#include <cstdint>

#include "runtime/value.h"

namespace data {

// A text; an empty field counts as the empty text.
bool AsText(const rt::Value& v, rt::Text* out);

// A yes/no value (an integer counts as yes when it is not 0).
bool AsYesNo(const rt::Value& v, bool* out);

// A record's [ID] as a list row value: whole numbers by their low 32 bits,
// floating numbers cut toward zero.
bool AsRowValue(const rt::Value& v, int32_t* out);

}  // namespace data
