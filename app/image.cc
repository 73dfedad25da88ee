// The program image that the launcher hands to the runtime library.
#include "app/globals.h"
#include "ui/windows.h"

namespace app {

const rt::ProgramImage& ProgramImage() {
  static const rt::ProgramImage image{
      rt::kImageMagic,   rt::kImageVersion, ui::Windows(), ui::WindowCount(),
      rt::WindowId::Main, EntryRoutine,     rt::SetRuntime,
  };
  return image;
}

}  // namespace app
