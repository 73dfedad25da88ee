#include "runtime/runtime.h"

#include <cstdlib>
#include <cstring>

namespace rt {

namespace {
Runtime* g_runtime = nullptr;
}

void SetRuntime(Runtime* runtime) { g_runtime = runtime; }

Runtime& Current() {
  // Every handler runs inside the runtime; a call without one is a build fault.
  if (g_runtime == nullptr) std::abort();
  return *g_runtime;
}

const WindowDef* FindWindowDef(const ProgramImage& image, WindowId id) {
  for (int i = 0; i < image.window_count; ++i)
    if (image.windows[i].id == id) return &image.windows[i];
  return nullptr;
}

const ControlDef* FindControlDef(const WindowDef& window, const char* name) {
  for (int i = 0; i < window.control_count; ++i)
    if (std::strcmp(window.controls[i].name, name) == 0) return &window.controls[i];
  return nullptr;
}

}  // namespace rt
