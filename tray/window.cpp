/* OrvandTray: the hidden window, its notification icon, the popup menu and its commands. */
#include <windows.h>
#include <shellapi.h>
#include <dbt.h>
#include "tray.h"
#include "resource.h"
#include "quincdio.h"
#include "quinvcd.h"

#define MAIN_PROGRAM "Orvand.exe"
#define HELP_PROGRAM "Assistview.exe"

#define RUN_KEY "SOFTWARE\\MICROSOFT\\WINDOWS\\CurrentVersion\\Run"
#define AUTOSTART_VALUE "OrvandTray"

/* The first popup of the class menu, without the virtual drive entry and its separator. */
#define VIRTUAL_DRIVES_POSITION 4

/* TrackPopupMenu needs the window in the foreground; a click on the icon does not always give
   it at once, so the tray tries for about a second before it gives up on this click. */
#define FOREGROUND_ATTEMPTS 102
#define FOREGROUND_RETRY_MS 10

/* The first notification record, which every shell since Windows 95 takes. */
#define TIP_CHARS 64

static BOOL MenuBusy;
static BOOL VirtualDrivesInstalled;
static UINT TaskbarCreatedMessage;

HMENU TrayPopupMenu(HWND window)
{
    HMENU menu = GetMenu(window);

    return menu ? GetSubMenu(menu, 0) : NULL;
}

BOOL NotifyTrayIcon(HWND window, DWORD operation, HICON icon)
{
    NOTIFYICONDATAA data;

    ZeroMemory(&data, sizeof(data));
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = window;
    data.uID = 0;
    data.uFlags = NIF_MESSAGE | NIF_TIP;
    data.uCallbackMessage = TrayCallbackMessage;
    if (icon) {
        data.uFlags |= NIF_ICON;
        data.hIcon = icon;
    }
    CopyTextCut(data.szTip, TrayCaption, TIP_CHARS);
    return Shell_NotifyIconA(operation, &data);
}

HICON LoadStatusIcon(HINSTANCE instance, WORD status)
{
    int os = QuinCDIO_GetOSVersion();
    int id;

    if (status & 1)
        id = os <= 5 ? IDI_MASKING_ON : IDI_MASKING_ON_XP;
    else
        id = os <= 5 ? IDI_MASKING_OFF : IDI_MASKING_OFF_XP;
    /* Shared: the system keeps the icon, nobody destroys it. */
    return (HICON)LoadImageA(instance, MAKEINTRESOURCEA(id), IMAGE_ICON, 16, 16, LR_SHARED);
}

void ShowTrayMenu(HWND window, int x, int y)
{
    HMENU popup = TrayPopupMenu(window);
    int attempt;

    if (!popup)
        return;
    /* Without the foreground the menu would not close when the user clicks elsewhere. */
    for (attempt = 1; !SetForegroundWindow(window); attempt++) {
        if (attempt == FOREGROUND_ATTEMPTS)
            return;
        Sleep(FOREGROUND_RETRY_MS);
    }
    TrackPopupMenu(popup, TPM_RIGHTBUTTON, x, y, 0, window, NULL);
    /* The task switch that follows a tray menu needs a message of the menu's owner in the
       queue, or the menu opens only every second time. */
    PostMessageA(window, WM_NULL, 0, 0);
}

void UpdateMenuChecks(HWND window, WORD status)
{
    HMENU popup = TrayPopupMenu(window);

    CheckMenuItem(popup, IDM_MASKING, MF_BYCOMMAND | ((status & 1) ? MF_CHECKED : MF_UNCHECKED));
    CheckMenuItem(popup, IDM_AUTOSTART, MF_BYCOMMAND | (AutostartIsSet() ? MF_CHECKED : MF_UNCHECKED));
}

static BOOL OpenRunKey(REGSAM access, HKEY *key)
{
    return QuinCDIO_RegOpenKeyEx(HKEY_LOCAL_MACHINE, RUN_KEY, 0, access, key) == ERROR_SUCCESS;
}

/* Set whenever the value exists, whatever its length. */
BOOL AutostartIsSet(void)
{
    HKEY key;
    DWORD size = 0;
    LONG result;

    if (!OpenRunKey(KEY_READ, &key))
        return FALSE;
    result = RegQueryValueExA(key, AUTOSTART_VALUE, NULL, NULL, NULL, &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

/* The path goes in quotes: unquoted, a path with a space would let Windows start
   "C:\Program.exe" instead. */
BOOL AutostartAdd(void)
{
    char command[TRAY_PATH_CHARS + 2];
    HKEY key;
    LONG result;

    wsprintfA(command, "\"%s\"", ModulePath);
    if (!OpenRunKey(KEY_ALL_ACCESS, &key))
        return FALSE;
    result = RegSetValueExA(key, AUTOSTART_VALUE, 0, REG_SZ, (const BYTE *)command,
                            (DWORD)lstrlenA(command) + 1);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

BOOL AutostartRemove(void)
{
    HKEY key;
    LONG result;

    if (!OpenRunKey(KEY_ALL_ACCESS, &key))
        return FALSE;
    result = RegDeleteValueA(key, AUTOSTART_VALUE);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

/* Starts a program of the suite from the tray's folder by its full path, never through the
   search path; a path that does not fit starts nothing. */
static void StartSuiteProgram(HWND window, const char *program)
{
    char path[TRAY_PATH_CHARS];

    if (lstrlenA(ProgramFolder) + lstrlenA(program) >= TRAY_PATH_CHARS)
        return;
    lstrcpyA(path, ProgramFolder);
    lstrcatA(path, program);
    ShellExecuteA(window, "open", path, NULL, ProgramFolder, SW_SHOWNORMAL);
}

static int AskUser(int textNumber)
{
    return MessageBoxA(NULL, GetText(textNumber), TrayCaption, MB_YESNO | MB_ICONQUESTION);
}

static void ConfirmExit(HWND window)
{
    MenuBusy = TRUE;
    if (AskUser(8) == IDYES)
        DestroyWindow(window);
    MenuBusy = FALSE;
}

/* Only a clear No keeps the value; a box that could not be shown counts as yes. */
static void ToggleAutostart(HWND window)
{
    HMENU popup;

    MenuBusy = TRUE;
    if (AskUser(7) != IDNO) {
        popup = TrayPopupMenu(window);
        if (AutostartIsSet()) {
            if (AutostartRemove())
                CheckMenuItem(popup, IDM_AUTOSTART, MF_BYCOMMAND | MF_UNCHECKED);
        } else if (AutostartAdd()) {
            CheckMenuItem(popup, IDM_AUTOSTART, MF_BYCOMMAND | MF_CHECKED);
        }
    }
    MenuBusy = FALSE;
}

static void OpenWebAddress(HWND window)
{
    const char *address = WebAddress();

    if (address && *address)
        ShellExecuteA(window, "open", address, NULL, NULL, SW_SHOWNORMAL);
}

static void OpenVirtualDriveDialog(HWND window)
{
    MenuBusy = TRUE;
    ShowVirtualDriveDialog(window);
    MenuBusy = FALSE;
}

static void OnMenuCommand(HWND window, UINT command)
{
    UINT itemState = GetMenuState(TrayPopupMenu(window), command, MF_BYCOMMAND);

    switch (command) {
    case IDM_EXIT:          ConfirmExit(window); break;
    case IDM_MASKING:       ToggleMasking(window, itemState); break;
    case IDM_AUTOSTART:     ToggleAutostart(window); break;
    case IDM_START:         StartSuiteProgram(window, MAIN_PROGRAM); break;
    case IDM_HELP:          StartSuiteProgram(window, HELP_PROGRAM); break;
    case IDM_WEBSITE:       OpenWebAddress(window); break;
    case IDM_VIRTUALDRIVES: OpenVirtualDriveDialog(window); break;
    }
}

static void OnCreate(HWND window)
{
    HMENU popup;

    /* The icon does not exist yet, so the refresh inside changes only the menu. */
    ReapplyStoredMasking(window);
    TakeMaskingChoice();
    NotifyTrayIcon(window, NIM_ADD, LoadStatusIcon(TrayInstance, TrayStatus));
    TaskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");

    VirtualDrivesInstalled = VODDIsInstalled() != 0;
    if (VirtualDrivesInstalled) {
        VODDRestoreDrives(0);
        RepairVirtualDriveDevices();
        if (SheepIconsOn)
            ApplyDriveIconsAll();
        else
            ClearDriveIconsAll();
    } else {
        popup = TrayPopupMenu(window);
        DeleteMenu(popup, VIRTUAL_DRIVES_POSITION, MF_BYPOSITION);
        DeleteMenu(popup, VIRTUAL_DRIVES_POSITION, MF_BYPOSITION);
        ClearDriveIconsAll();
    }
}

static void OnDestroy(HWND window)
{
    NotifyTrayIcon(window, NIM_DELETE, NULL);
    PostQuitMessage(0);
    FreeTexts();
}

/* A drive letter itself came or went: a volume without the media or network flag.  The
   record is read only as far as its sender says it reaches: one from another process carries
   exactly dbch_size bytes. */
static const DEV_BROADCAST_VOLUME *DriveLetterVolume(LPARAM lParam)
{
    const DEV_BROADCAST_HDR *header = (const DEV_BROADCAST_HDR *)lParam;
    const DEV_BROADCAST_VOLUME *volume = (const DEV_BROADCAST_VOLUME *)lParam;

    if (!header || header->dbch_size < sizeof(DEV_BROADCAST_VOLUME))
        return NULL;
    if (header->dbch_devicetype != DBT_DEVTYP_VOLUME)
        return NULL;
    if (volume->dbcv_flags & (DBTF_MEDIA | DBTF_NET))
        return NULL;
    return volume;
}

static void OnDriveArrival(HWND window, DWORD unitMask)
{
    char root[4];
    BOOL found = FALSE;
    HANDLE drive;
    int index;

    /* A: and B: are floppy letters and never looked at. */
    for (index = 2; index < 26; index++) {
        if (!(unitMask & (1UL << index)))
            continue;
        wsprintfA(root, "%c:\\", 'A' + index);
        if (GetDriveTypeA(root) != DRIVE_CDROM)
            continue;
        found = TRUE;
        if (!SheepIconsOn || !VirtualDrivesInstalled)
            break;
        drive = OpenVODDLetter((BYTE)index, 0);
        if (drive) {
            SetDriveIcons(index);
            CloseVODD(drive);
        }
    }
    if (found) {
        ReapplyStoredMasking(window);
        if (VirtualDrivesInstalled)
            RepairVirtualDriveDevices();
    }
}

static void OnDriveRemoval(HWND window, DWORD unitMask)
{
    int index;

    RefreshMaskingFromLayer(window);
    for (index = 0; index < 26; index++) {
        if (unitMask & (1UL << index))
            ClearDriveIcons(index);
    }
}

static LRESULT OnDeviceChange(HWND window, WPARAM wParam, LPARAM lParam)
{
    const DEV_BROADCAST_VOLUME *volume;

    /* Other events, such as DBT_DEVNODES_CHANGED, come without a record. */
    if (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE) {
        volume = DriveLetterVolume(lParam);
        if (volume && wParam == DBT_DEVICEARRIVAL)
            OnDriveArrival(window, volume->dbcv_unitmask);
        else if (volume)
            OnDriveRemoval(window, volume->dbcv_unitmask);
    }
    return DefWindowProcA(window, WM_DEVICECHANGE, wParam, lParam);
}

static LRESULT OnTrayCallback(HWND window, WPARAM wParam, LPARAM lParam)
{
    POINT point;

    /* A box or the dialog is open: no second menu over it, only bring it forward. */
    if (MenuBusy) {
        SetForegroundWindow(window);
        return DefWindowProcA(window, TrayCallbackMessage, wParam, lParam);
    }
    switch (lParam) {
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_CONTEXTMENU:
        if (GetCursorPos(&point))
            ShowTrayMenu(window, point.x, point.y);
        break;
    case WM_LBUTTONDBLCLK:
        StartSuiteProgram(window, MAIN_PROGRAM);
        break;
    }
    return 0;
}

LRESULT CALLBACK TrayWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    /* Registered messages have no constant numbers, so they cannot be cases of the switch;
       a number not yet registered is 0 and matches nothing. */
    if (message != 0) {
        if (message == TaskbarCreatedMessage) {
            /* Explorer restarted and lost every icon. */
            NotifyTrayIcon(window, NIM_ADD, LoadStatusIcon(TrayInstance, TrayStatus));
            return 0;
        }
        if (message == ShowIconMessage) {
            OnShowIconMessage(window);
            return 0;
        }
        if (message == EnableMessage) {
            OnEnableMessage(window, wParam);
            return 0;
        }
    }

    switch (message) {
    case WM_CREATE:           OnCreate(window); return 0;
    case WM_DESTROY:          OnDestroy(window); return 0;
    case WM_CLOSE:            DestroyWindow(window); return 0;
    case WM_COMMAND:          OnMenuCommand(window, LOWORD(wParam)); return 0;
    case WM_DEVICECHANGE:     return OnDeviceChange(window, wParam, lParam);
    case TrayCallbackMessage: return OnTrayCallback(window, wParam, lParam);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
