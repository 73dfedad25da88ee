// A runtime library whose start function refuses the program image at once.
#include <cstdint>

namespace {
int __stdcall Start(const void*) { return -1; }
}  // namespace

extern "C" __declspec(dllexport) void* __stdcall GetNewSock(uint32_t version) {
  return version == 1000 ? reinterpret_cast<void*>(&Start) : nullptr;
}
