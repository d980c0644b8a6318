#include "support/wine.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

namespace testing_support {

bool running_under_wine() {
#ifdef _WIN32
    // Wine's ntdll exports wine_get_version; Windows' does not.
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

}  // namespace testing_support
