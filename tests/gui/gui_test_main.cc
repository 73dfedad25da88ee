// The window tests run inside the real runtime library: main loads vorta.vlr
// the way the launcher does and hands it an image whose entry routine runs
// the tests. The windows are the program's own definitions; only the event
// handlers are replaced by ones that record which event ran.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "tests/gui/gui_test_support.h"
#include "vorta/win32/entry.h"

namespace {

void RunTestsAndEnd() {
  int rc = RUN_ALL_TESTS();
  rt::EndProgram(rc);
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  HMODULE runtime = LoadLibraryW(L"vorta.vlr");
  if (runtime == nullptr) {
    std::printf("vorta.vlr is not beside the test program\n");
    return 1;
  }
  auto get_new_sock = reinterpret_cast<vorta::GetNewSockFunction>(
      reinterpret_cast<void*>(GetProcAddress(runtime, vorta::kEntryName)));
  if (get_new_sock == nullptr) {
    std::printf("vorta.vlr has no GetNewSock\n");
    return 1;
  }
  if (get_new_sock(999) != nullptr || get_new_sock(1001) != nullptr) {
    std::printf("vorta.vlr accepts a version other than 1000\n");
    return 1;
  }
  auto start = reinterpret_cast<vorta::StartFunction>(get_new_sock(vorta::kRuntimeVersion));
  if (start == nullptr) {
    std::printf("vorta.vlr refuses version 1000\n");
    return 1;
  }
  return start(&guitest::TestImage(RunTestsAndEnd));
}
