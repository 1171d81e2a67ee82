/* A DLL whose DllGetVersion answers with the version it was built with, for the shell
   version probe.  PROBE_NO_EXPORT builds one without the function. */
#include <windows.h>
#include <shlwapi.h>

#ifndef PROBE_NO_EXPORT
HRESULT CALLBACK DllGetVersion(DLLVERSIONINFO *info)
{
    /* A caller that does not hand over a clean, 20-byte record gets nothing. */
    if (info->cbSize != 20 || info->dwMajorVersion || info->dwMinorVersion || info->dwBuildNumber ||
        info->dwPlatformID)
        return E_INVALIDARG;
    info->dwMajorVersion = PROBE_MAJOR;
    info->dwMinorVersion = PROBE_MINOR;
    info->dwBuildNumber = 1234;
    info->dwPlatformID = DLLVER_PLATFORM_WINDOWS;
    return PROBE_RESULT;
}
#endif

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
