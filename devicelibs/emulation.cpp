// Registry helpers shared by the two device-layer stand-ins: emulation settings and call counters.
#include "emulation.h"

DWORD Emulation_ReadDword(const char *keyPath, const char *name, DWORD fallback)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return fallback;
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof(value);
    // A longer value fails with ERROR_MORE_DATA; a shorter one succeeds with a smaller size.
    LONG rc = RegQueryValueExA(key, name, NULL, &type, (BYTE *)&value, &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(value))
        return fallback;
    return value;
}

BOOL Emulation_WriteDword(const char *keyPath, const char *name, DWORD value)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL)
        != ERROR_SUCCESS)
        return FALSE;
    LONG rc = RegSetValueExA(key, name, 0, REG_DWORD, (const BYTE *)&value, sizeof(value));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

void Emulation_CountCall(const char *callsPath, const char *name)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, callsPath, 0, NULL, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                        NULL, &key, NULL) != ERROR_SUCCESS)
        return;
    DWORD type = 0;
    DWORD count = 0;
    DWORD size = sizeof(count);
    if (RegQueryValueExA(key, name, NULL, &type, (BYTE *)&count, &size) != ERROR_SUCCESS
        || type != REG_DWORD || size != sizeof(count))
        count = 0;
    count++;
    RegSetValueExA(key, name, 0, REG_DWORD, (const BYTE *)&count, sizeof(count));
    RegCloseKey(key);
}
