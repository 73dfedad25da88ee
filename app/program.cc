// The program-wide state, the entry routine and the exit clean-up.
#include "app/globals.h"

namespace app {

rt::Text CurrentUserName;
rt::Text CurrentUserId;
int32_t LoginSucceeded = 0;
rt::DbRef Database;

namespace {

// Every global keeps its empty or zero start value.
void InitialiseGlobals() {}

void ExitCleanup() {
  if (!CurrentUserName.empty()) rt::Text().swap(CurrentUserName);
  if (!CurrentUserId.empty()) rt::Text().swap(CurrentUserId);
}

}  // namespace

void EntryRoutine() {
  InitialiseGlobals();
  rt::RegisterExitRoutine(ExitCleanup);
  // Its created event opens the database, runs the login and fills the list.
  rt::LoadWindow(rt::WindowId::Main, /*modal=*/false);
  rt::RunMessageLoop();
  rt::EndProgram(0);
}

}  // namespace app
