/* OrvandTray: start-up, the values it works out for the whole run, and the message loop. */
#include <windows.h>
#include <commctrl.h>
#include <shlwapi.h>
#include "tray.h"
#include "resource.h"
#include "quincdio.h"
#include "quinvcd.h"

#define TRAY_EVENT "OrvandTray"
#define SHOW_ICON_MESSAGE "OrvandTrayShowIcon"
#define ENABLE_MESSAGE "OrvandTrayEnable"
#define STARTUP_CAPTION_PREFIX "Orvand Tray V"

/* shell32.dll 4.71 came with the desktop update; per-drive Explorer icons need newer. */
#define NEWEST_SHELL_WITHOUT_DRIVE_ICONS 0x00040047

HINSTANCE TrayInstance;
char ModulePath[TRAY_PATH_CHARS];
char ProgramFolder[TRAY_PATH_CHARS];
TrayFileVersion FileVersion;
int OsVersionCode;
BOOL ShellIconSupport;
UINT ShowIconMessage;
UINT EnableMessage;
char TrayCaption[TRAY_CAPTION_CHARS];

DWORD ProbeDllVersion(const char *dllName)
{
    HMODULE module;
    DLLGETVERSIONPROC getVersion;
    DLLVERSIONINFO info;
    DWORD version = 0;

    module = LoadLibraryA(dllName);
    if (!module)
        return 0;
    getVersion = (DLLGETVERSIONPROC)(void *)GetProcAddress(module, "DllGetVersion");
    if (getVersion) {
        ZeroMemory(&info, sizeof(info));
        info.cbSize = sizeof(info);
        if (SUCCEEDED(getVersion(&info)))
            version = ((info.dwMajorVersion & 0xFFFF) << 16) | (info.dwMinorVersion & 0xFFFF);
    }
    FreeLibrary(module);
    return version;
}

BOOL ShellHasDriveIcons(const char *shellDll)
{
    return ProbeDllVersion(shellDll) > NEWEST_SHELL_WITHOUT_DRIVE_ICONS;
}

BOOL ReadFileVersion(const char *path, TrayFileVersion *version)
{
    DWORD handle = 0;
    DWORD size;
    void *block;
    VS_FIXEDFILEINFO *fixed = NULL;
    UINT fixedSize = 0;
    BOOL ok = FALSE;

    /* GetFileVersionInfoSizeA wants a writable path on some systems. */
    size = GetFileVersionInfoSizeA((LPSTR)path, &handle);
    if (size == 0)
        return FALSE;
    block = HeapAlloc(GetProcessHeap(), 0, size);
    if (!block)
        return FALSE;
    if (GetFileVersionInfoA((LPSTR)path, 0, size, block) &&
        VerQueryValueA(block, (LPSTR) "\\", (void **)&fixed, &fixedSize) && fixed &&
        fixedSize >= sizeof(VS_FIXEDFILEINFO)) {
        version->major = HIWORD(fixed->dwFileVersionMS);
        version->minor = LOWORD(fixed->dwFileVersionMS);
        version->build = HIWORD(fixed->dwFileVersionLS);
        version->revision = LOWORD(fixed->dwFileVersionLS);
        ok = TRUE;
    }
    HeapFree(GetProcessHeap(), 0, block);
    return ok;
}

void CopyTextCut(char *dest, const char *src, int size)
{
    int i = 0;

    while (src[i] && i < size - 1) {
        if (IsDBCSLeadByte((BYTE)src[i])) {
            /* A lead byte without its trail byte, or without room for it, goes. */
            if (!src[i + 1] || i + 2 > size - 1)
                break;
            dest[i] = src[i];
            i++;
        }
        dest[i] = src[i];
        i++;
    }
    dest[i] = '\0';
}

void SetTrayCaption(const char *prefix)
{
    char number[24];
    int numberLength;

    numberLength = wsprintfA(number, "%u.%u", FileVersion.major, FileVersion.minor);
    /* The version always shows; a long prefix gives way to it. */
    CopyTextCut(TrayCaption, prefix, TRAY_CAPTION_CHARS - numberLength);
    lstrcatA(TrayCaption, number);
}

/* ModulePath cut after its last backslash; position 0 is never taken as one. */
void MakeProgramFolder(void)
{
    int i;

    lstrcpyA(ProgramFolder, ModulePath);
    for (i = lstrlenA(ProgramFolder); i > 0; i--) {
        if (ProgramFolder[i] == '\\') {
            ProgramFolder[i] = '\0';
            break;
        }
    }
    /* A path of 259 characters without a backslash leaves no room for one. */
    if (lstrlenA(ProgramFolder) < TRAY_PATH_CHARS - 1)
        lstrcatA(ProgramFolder, "\\");
}

BOOL ReadStartupValues(void)
{
    DWORD length;

    length = GetModuleFileNameA(NULL, ModulePath, TRAY_PATH_CHARS);
    if (length == 0)
        return FALSE;
    /* Windows 95 and 2000 leave a path cut at the buffer's end without its NUL. */
    ModulePath[TRAY_PATH_CHARS - 1] = '\0';
    MakeProgramFolder();
    if (!ReadFileVersion(ModulePath, &FileVersion))
        return FALSE;
    SetTrayCaption(STARTUP_CAPTION_PREFIX);
    ShellIconSupport = ShellHasDriveIcons("shell32.dll");
    ReadSheepIconsOption();
    return TRUE;
}

BOOL RegisterTrayClass(HINSTANCE instance)
{
    WNDCLASSEXA windowClass;

    ZeroMemory(&windowClass, sizeof(windowClass));
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = TrayWndProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_MASKING_ON));
    windowClass.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    windowClass.lpszMenuName = MAKEINTRESOURCEA(IDR_TRAYMENU);
    windowClass.lpszClassName = TRAY_CLASS_NAME;
    return RegisterClassExA(&windowClass) != 0;
}

BOOL CreateTrayWindow(HINSTANCE instance)
{
    HWND window;

    TrayInstance = instance;
    /* Never shown: the notification icon is the tray's only presence. */
    window = CreateWindowExA(0, TRAY_CLASS_NAME, TRAY_WINDOW_TITLE, WS_OVERLAPPEDWINDOW,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                             NULL, NULL, instance, NULL);
    return window != NULL;
}

int TrayMain(HINSTANCE instance)
{
    HANDLE event;
    MSG message;

    /* What the device layer brings up stays up until the process ends. */
    if (QuinCDIO_InitScsi(8) != 0)
        return TRAY_EXIT_NO_DEVICE_LAYER;
    if (VODDInit(1) == 0)
        return TRAY_EXIT_NO_DEVICE_LAYER;
    OsVersionCode = QuinCDIO_GetOSVersion();
    if (OsVersionCode == 0)
        return TRAY_EXIT_NO_DEVICE_LAYER;
    InitCommonControls();

    /* Before the instance check: a second start needs ShowIconMessage. */
    ShowIconMessage = RegisterWindowMessageA(SHOW_ICON_MESSAGE);
    EnableMessage = RegisterWindowMessageA(ENABLE_MESSAGE);

    event = CreateEventA(NULL, FALSE, FALSE, TRAY_EVENT);
    if (!event)
        return TRAY_EXIT_DONE;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        /* The running tray refreshes itself; the handle goes with the process. */
        PostMessageA(HWND_BROADCAST, ShowIconMessage, 0, 0);
        return TRAY_EXIT_DONE;
    }

    if (!ReadStartupValues() || !RegisterTrayClass(instance) || !CreateTrayWindow(instance)) {
        CloseHandle(event);
        return TRAY_EXIT_DONE;
    }

    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    CloseHandle(event);
    return TRAY_EXIT_DONE;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show)
{
    /* No options; the window is never shown, whatever the show state. */
    (void)previous;
    (void)commandLine;
    (void)show;
    return TrayMain(instance);
}
