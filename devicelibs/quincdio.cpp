// QuinCDIO.dll stand-in: the CD I/O layer's entry points, steered by registry emulation settings.
#include "quincdio.h"
#include "emulation.h"

static const char EMULATION_KEY[] = "SOFTWARE\\Quintessa\\QuinCDIO\\Emulation";
static const char CALLS_KEY[] = "SOFTWARE\\Quintessa\\QuinCDIO\\Emulation\\Calls";

// Counts a call without touching the caller's last error: the bookkeeping's own registry calls
// would otherwise leave their codes behind for callers that report GetLastError.
static void CountCall(const char *name)
{
    DWORD lastError = GetLastError();
    Emulation_CountCall(CALLS_KEY, name);
    SetLastError(lastError);
}

// The OsVersionCode of the Windows we run on: 1-3 for 95/98/ME, 4 NT 4.0, 5 2000, 6 XP and later.
static int RunningOsVersion(void)
{
    OSVERSIONINFOA info;
    ZeroMemory(&info, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(info);
    if (!GetVersionExA(&info))
        return 0;
    if (info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) {
        if (info.dwMinorVersion < 10)
            return 1;
        return info.dwMinorVersion < 90 ? 2 : 3;
    }
    if (info.dwPlatformId == VER_PLATFORM_WIN32_NT) {
        if (info.dwMajorVersion < 5)
            return 4;
        if (info.dwMajorVersion == 5 && info.dwMinorVersion == 0)
            return 5;
        return 6;
    }
    return 0;  // Win32s: not a system the suite runs on
}

extern "C" {

int __cdecl QuinCDIO_InitScsi(int mode)
{
    (void)mode;
    DWORD lastError = GetLastError();
    Emulation_CountCall(CALLS_KEY, "QuinCDIO_InitScsi");
    int result = (int)Emulation_ReadDword(EMULATION_KEY, "InitResult", 0);
    SetLastError(lastError);
    return result;
}

void __cdecl QuinCDIO_DeInitScsi(void)
{
    CountCall("QuinCDIO_DeInitScsi");
}

int __cdecl QuinCDIO_GetOSVersion(void)
{
    DWORD lastError = GetLastError();
    Emulation_CountCall(CALLS_KEY, "QuinCDIO_GetOSVersion");
    int result = (int)Emulation_ReadDword(EMULATION_KEY, "OsVersion", (DWORD)RunningOsVersion());
    SetLastError(lastError);
    return result;
}

// The scratch byte is left alone: callers never read it back.
int __cdecl QuinCDIO_EnumTargets(int mode, unsigned char *scratch)
{
    (void)mode;
    (void)scratch;
    DWORD lastError = GetLastError();
    Emulation_CountCall(CALLS_KEY, "QuinCDIO_EnumTargets");
    int result = (int)Emulation_ReadDword(EMULATION_KEY, "TargetsFound", 1);
    SetLastError(lastError);
    return result;
}

// The registry functions count first, then make the real call last, so the result and the
// last error are exactly those of the Win32 call.
LONG __cdecl QuinCDIO_RegOpenKeyEx(HKEY root, LPCSTR subKey, DWORD options, REGSAM access,
                                   PHKEY key)
{
    CountCall("QuinCDIO_RegOpenKeyEx");
    return RegOpenKeyExA(root, subKey, options, access, key);
}

LONG __cdecl QuinCDIO_RegCreateKeyEx(HKEY root, LPCSTR subKey, DWORD reserved, LPSTR keyClass,
                                     DWORD options, REGSAM access, LPSECURITY_ATTRIBUTES security,
                                     PHKEY key, LPDWORD disposition)
{
    CountCall("QuinCDIO_RegCreateKeyEx");
    return RegCreateKeyExA(root, subKey, reserved, keyClass, options, access, security, key,
                           disposition);
}

LONG __cdecl QuinCDIO_RegDeleteKey(HKEY root, LPCSTR subKey)
{
    CountCall("QuinCDIO_RegDeleteKey");
    return RegDeleteKeyA(root, subKey);
}

// The layer's masking word lives in the MaskState setting, so it survives the caller's process
// just as the real layer's state outlives the tray.
int __cdecl MaskRec_SendCommand(int command, WORD *status)
{
    DWORD lastError = GetLastError();
    Emulation_CountCall(CALLS_KEY, "MaskRec_SendCommand");
    int result = 0;
    if (status != NULL && Emulation_ReadDword(EMULATION_KEY, "MaskingAvailable", 1) != 0) {
        if (command == MASKREC_SET) {
            result = Emulation_WriteDword(EMULATION_KEY, "MaskState", *status) ? 1 : 0;
        } else if (command == MASKREC_GET) {
            *status = (WORD)Emulation_ReadDword(EMULATION_KEY, "MaskState", 1);
            result = 1;
        }
    }
    SetLastError(lastError);
    return result;
}

}  // extern "C"
