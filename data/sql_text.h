// Turning the form's values into pieces of SQL text. Statements are built by
// concatenation; these helpers make the pieces that are not fixed.
#pragma once

#include "runtime/value.h"

namespace data {

// A text for a place between apostrophes: each apostrophe doubled, nothing
// else touched ("%" and "_" stay wildcards in a like pattern). An apostrophe
// byte is never part of a multi-byte GB18030 character, so bytewise is safe.
rt::Text Quoted(const rt::Text& text);

// The bare word for [性别]: "true" exactly when the sex text is "男".
const char* SexWord(const rt::Text& sex_text);

}  // namespace data
