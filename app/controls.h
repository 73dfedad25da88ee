// Reading the controls' values as the handlers use them. A property of an
// unexpected kind reads as the empty or neutral value of the wanted kind.
#pragma once

#include "runtime/runtime.h"

namespace app {

rt::Text GetText(const rt::ControlRef& c);        // edit box, combo box
bool IsChecked(const rt::ControlRef& c);          // check box
int GetCurrentRow(const rt::ControlRef& list);    // negative: none
rt::DateTime GetDate(const rt::ControlRef& c);    // date box
rt::Bytes GetPicture(const rt::ControlRef& c);    // empty: no picture
rt::Text GetFileName(const rt::ControlRef& dialog);

}  // namespace app
