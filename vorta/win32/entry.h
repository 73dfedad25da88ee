// The protocol between the launcher and the runtime library: the exported
// GetNewSock, asked with the version code, gives the start function, which
// takes the program image and returns 0 when the program has ended, or
// another value at once when it cannot run it (an image it does not know, a
// system that refuses its windows).
#pragma once

#ifdef _WIN32
#include <cstdint>

#include "runtime/windef.h"

namespace vorta {

constexpr uint32_t kRuntimeVersion = 1000;
constexpr const char kEntryName[] = "GetNewSock";

using StartFunction = int(__stdcall*)(const rt::ProgramImage* image);
using GetNewSockFunction = void*(__stdcall*)(uint32_t version);

}  // namespace vorta
#endif
