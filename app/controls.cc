#include "app/controls.h"

#include <climits>

namespace app {

rt::Text GetText(const rt::ControlRef& c) {
  rt::Value v = rt::GetProperty(c, rt::Prop::Text);
  if (v.kind() == rt::Kind::Text) return v.text();
  return rt::Text();
}

bool IsChecked(const rt::ControlRef& c) {
  rt::Value v = rt::GetProperty(c, rt::Prop::Checked);
  if (v.kind() == rt::Kind::Bool) return v.boolean();
  if (v.kind() == rt::Kind::Integer) return v.integer() != 0;
  return false;
}

int GetCurrentRow(const rt::ControlRef& list) {
  rt::Value v = rt::GetProperty(list, rt::Prop::CurrentRow);
  if (v.kind() != rt::Kind::Integer || v.integer() < 0 || v.integer() > INT_MAX) return -1;
  return static_cast<int>(v.integer());
}

rt::DateTime GetDate(const rt::ControlRef& c) {
  rt::Value v = rt::GetProperty(c, rt::Prop::Date);
  if (v.kind() == rt::Kind::DateTime) return v.date();
  return rt::ToDateTime(v);
}

rt::Bytes GetPicture(const rt::ControlRef& c) {
  rt::Value v = rt::GetProperty(c, rt::Prop::Picture);
  if (v.kind() == rt::Kind::Bytes) return v.bytes();
  return rt::Bytes();
}

rt::Text GetFileName(const rt::ControlRef& dialog) {
  rt::Value v = rt::GetProperty(dialog, rt::Prop::FileName);
  if (v.kind() == rt::Kind::Text) return v.text();
  return rt::Text();
}

}  // namespace app
