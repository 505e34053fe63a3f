// Library-wide state shared by the Mivo sources.
#pragma once

#include <windows.h>

namespace mivo {

// The library's own module, recorded from the loader's first notification.
HINSTANCE LibraryInstance();

}  // namespace mivo
