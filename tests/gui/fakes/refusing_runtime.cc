// A runtime library that refuses every version: the launcher must give up.
#include <cstdint>

extern "C" __declspec(dllexport) void* __stdcall GetNewSock(uint32_t version) { return nullptr; }
