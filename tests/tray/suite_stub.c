/* Stands in for a program of the suite that the tray starts: records how it was started
   (command line, current directory, own path) under HKCU "Software\QuinTests\SuiteStub",
   adds one to "Starts" there, and ends. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show)
{
    char text[1024];
    HKEY key;
    DWORD starts = 0;
    DWORD size = sizeof(starts);

    (void)instance;
    (void)previous;
    (void)commandLine;
    (void)show;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\QuinTests\\SuiteStub", 0, NULL, 0, KEY_ALL_ACCESS,
                        NULL, &key, NULL) != ERROR_SUCCESS)
        return 1;
    lstrcpynA(text, GetCommandLineA(), sizeof(text));
    RegSetValueExA(key, "CommandLine", 0, REG_SZ, (const BYTE *)text, lstrlenA(text) + 1);
    GetCurrentDirectoryA(sizeof(text), text);
    RegSetValueExA(key, "Directory", 0, REG_SZ, (const BYTE *)text, lstrlenA(text) + 1);
    GetModuleFileNameA(NULL, text, sizeof(text));
    RegSetValueExA(key, "Module", 0, REG_SZ, (const BYTE *)text, lstrlenA(text) + 1);
    if (RegQueryValueExA(key, "Starts", NULL, NULL, (BYTE *)&starts, &size) != ERROR_SUCCESS)
        starts = 0;
    starts++;
    RegSetValueExA(key, "Starts", 0, REG_DWORD, (const BYTE *)&starts, sizeof(starts));
    RegCloseKey(key);
    return 0;
}
