#include "data/sql_text.h"

namespace data {

rt::Text Quoted(const rt::Text& text) {
  rt::Text out;
  out.reserve(text.size());
  for (char c : text) {
    out.push_back(c);
    if (c == '\'') out.push_back('\'');
  }
  return out;
}

const char* SexWord(const rt::Text& sex_text) { return sex_text == "男" ? "true" : "false"; }

}  // namespace data
