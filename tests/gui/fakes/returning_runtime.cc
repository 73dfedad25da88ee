// A runtime library whose start function returns at once, as one does when
// the program has ended.
#include <cstdint>

namespace {
int __stdcall Start(const void*) { return 0; }
}  // namespace

extern "C" __declspec(dllexport) void* __stdcall GetNewSock(uint32_t version) {
  return version == 1000 ? reinterpret_cast<void*>(&Start) : nullptr;
}
