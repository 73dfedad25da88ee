// The program-wide state: four globals that live as long as the process.
#pragma once

#include <cstdint>

#include "runtime/runtime.h"

namespace app {

extern rt::Text CurrentUserName;  // set by a successful login
extern rt::Text CurrentUserId;    // the account's [ID] as decimal text
extern int32_t LoginSucceeded;    // 1 once a login ran to its end
extern rt::DbRef Database;        // the main window's 外部数据库1

// The program's entry routine and the image the launcher hands the runtime.
void EntryRoutine();
const rt::ProgramImage& ProgramImage();

}  // namespace app
