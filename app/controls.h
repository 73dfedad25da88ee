// Reading and setting the controls' values as the handlers use them. A
// property of an unexpected kind reads as the empty or neutral value of the
// wanted kind. A value the runtime could not give or set for lack of memory
// throws std::bad_alloc, which the handler's Guarded turns into its failure
// message: a handler never goes on with a value it did not get.
#pragma once

#include <new>
#include <stdexcept>

#include "runtime/runtime.h"

namespace app {

rt::Text GetText(const rt::ControlRef& c);        // edit box, combo box
bool IsChecked(const rt::ControlRef& c);          // check box
int GetCurrentRow(const rt::ControlRef& list);    // negative: none
rt::DateTime GetDate(const rt::ControlRef& c);    // date box
rt::Bytes GetPicture(const rt::ControlRef& c);    // empty: no picture
rt::Text GetFileName(const rt::ControlRef& dialog);
void Set(const rt::ControlRef& c, rt::Prop prop, rt::Value value);

// Closes a record set at Close(), or when it goes out of scope before: on a
// failure's way out too.
class RecordSetCloser {
 public:
  RecordSetCloser(const rt::DbRef& db, int rs) : db_(db), rs_(rs) {}
  ~RecordSetCloser() { Close(); }
  RecordSetCloser(const RecordSetCloser&) = delete;
  RecordSetCloser& operator=(const RecordSetCloser&) = delete;
  void Close() {
    if (rs_ != 0) rt::CloseRecordSet(db_, rs_);
    rs_ = 0;
  }

 private:
  rt::DbRef db_;
  int rs_;
};

// Runs a handler's steps. Running out of memory anywhere in them ends the
// handler with its failure message, as a failed step would, and the program
// goes on; false then. Nothing may be thrown out of a handler: the runtime
// that calls it is another module, which exceptions do not cross.
template <typename Steps>
bool Guarded(const char* failure_message, Steps&& steps) {
  try {
    steps();
    return true;
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  rt::ShowMessage(failure_message, rt::kIconError);
  return false;
}

}  // namespace app
