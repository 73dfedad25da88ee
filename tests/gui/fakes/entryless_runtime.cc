// A library without the runtime's entry function.
extern "C" __declspec(dllexport) int __stdcall NotTheEntry() { return 0; }
