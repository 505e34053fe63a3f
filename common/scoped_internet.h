// WinINet handles closed at the end of their scope (see scoped_handle.h).
#pragma once

#include <windows.h>
#include <wininet.h>

#include "common/scoped_handle.h"

using ScopedInternet = Scoped<scoped_traits::NullIsEmpty<HINTERNET, &InternetCloseHandle>>;
