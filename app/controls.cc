#include "app/controls.h"

#include <climits>
#include <new>

namespace app {

namespace {

rt::Value Read(const rt::ControlRef& c, rt::Prop prop) {
  rt::Value v = rt::GetProperty(c, prop);
  if (v.failed()) throw std::bad_alloc();
  return v;
}

}  // namespace

rt::Text GetText(const rt::ControlRef& c) {
  rt::Value v = Read(c, rt::Prop::Text);
  if (v.kind() == rt::Kind::Text) return v.TakeText();
  return rt::Text();
}

bool IsChecked(const rt::ControlRef& c) {
  rt::Value v = Read(c, rt::Prop::Checked);
  if (v.kind() == rt::Kind::Bool) return v.boolean();
  if (v.kind() == rt::Kind::Integer) return v.integer() != 0;
  return false;
}

int GetCurrentRow(const rt::ControlRef& list) {
  rt::Value v = Read(list, rt::Prop::CurrentRow);
  if (v.kind() != rt::Kind::Integer || v.integer() < 0 || v.integer() > INT_MAX) return -1;
  return static_cast<int>(v.integer());
}

rt::DateTime GetDate(const rt::ControlRef& c) {
  rt::Value v = Read(c, rt::Prop::Date);
  if (v.kind() == rt::Kind::DateTime) return v.date();
  return rt::ToDateTime(v);
}

rt::Bytes GetPicture(const rt::ControlRef& c) {
  rt::Value v = Read(c, rt::Prop::Picture);
  if (v.kind() == rt::Kind::Bytes) return v.TakeBytes();
  return rt::Bytes();
}

rt::Text GetFileName(const rt::ControlRef& dialog) {
  rt::Value v = Read(dialog, rt::Prop::FileName);
  if (v.kind() == rt::Kind::Text) return v.TakeText();
  return rt::Text();
}

void Set(const rt::ControlRef& c, rt::Prop prop, rt::Value value) {
  if (!rt::SetProperty(c, prop, std::move(value))) throw std::bad_alloc();
}

}  // namespace app
