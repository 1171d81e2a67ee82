// ControlQuinCDIO: one dialog that sets the NoTimedIO and NoLockedIO switches of the CD I/O layer.
#include <windows.h>
#include <commctrl.h>
#include "resource.h"

static const char CaptionText[] = "QuinCDIO Driver Control 4.2";
static const char LayerKeyPath[] = "SOFTWARE\\Quintessa\\QuinCDIO";
static const char WriteFailedText[] = "Can't write changes to Registry!";

// One switch of the I/O layer: its registry value and the warning shown
// before it is switched on.
struct LayerSwitch {
    const char *valueName;
    const char *warning;
};

static const LayerSwitch NoTimedIO = {
    "NoTimedIO",
    "WARNING!\n"
    "You are going to disable I/O Timing!\n"
    "Only disable this mode, if you have trouble running\n"
    "Quintessa Tessaro on your computer!\n"
    "\n"
    "Do you really want to disable I/O Timing?"
};

static const LayerSwitch NoLockedIO = {
    "NoLockedIO",
    "WARNING!\n"
    "You are going to disable Locked I/O mode!\n"
    "Only enable this mode, if you have trouble running\n"
    "Quintessa Tessaro on your computer!\n"
    "\n"
    "Do you really want to disable Locked I/O mode?"
};

// The switches as read when the dialog opened (0 or 1). OK compares against
// these, also after a write, so a second OK stores a changed box again.
static DWORD StartNoTimedIO;
static DWORD StartNoLockedIO;

// 1 when the switch's value is non-zero, 0 when it is zero, missing or unreadable.
static DWORD ReadLayerSwitch(const LayerSwitch *layerSwitch)
{
    HKEY key;
    DWORD number = 0;
    DWORD size = sizeof number;

    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, LayerKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    // No type is asked for: a value of any type up to 4 bytes counts by its
    // bytes, and the number starts at 0 so a shorter value fills only its
    // own bytes. A longer value fails with ERROR_MORE_DATA and may have left
    // part of its data behind, hence the reset.
    if (RegQueryValueExA(key, layerSwitch->valueName, NULL, NULL, (BYTE *)&number, &size) != ERROR_SUCCESS)
        number = 0;
    RegCloseKey(key);
    return number != 0 ? 1 : 0;
}

// Writes one switch as a REG_DWORD of 0 or 1; switching on needs the user's
// yes first. FALSE when declined or when the registry refused the write.
static BOOL StoreLayerSwitch(HWND dialog, const LayerSwitch *layerSwitch, DWORD wanted)
{
    HKEY key;
    LONG result;

    if (wanted == 1 &&
        MessageBoxA(dialog, layerSwitch->warning, CaptionText, MB_ICONQUESTION | MB_YESNO) != IDYES)
        return FALSE;

    result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, LayerKeyPath, 0, NULL, REG_OPTION_NON_VOLATILE,
                             KEY_WRITE, NULL, &key, NULL);
    if (result == ERROR_SUCCESS) {
        result = RegSetValueExA(key, layerSwitch->valueName, 0, REG_DWORD, (const BYTE *)&wanted,
                                sizeof wanted);
        RegCloseKey(key);
    }
    if (result != ERROR_SUCCESS) {
        MessageBoxA(dialog, WriteFailedText, CaptionText, MB_ICONERROR);
        return FALSE;
    }
    return TRUE;
}

// Stores each switch whose box differs from its start value, NoLockedIO
// first; stops at the first one declined or refused.
static BOOL ApplyLayerSwitches(HWND dialog, DWORD wantedNoTimedIO, DWORD wantedNoLockedIO)
{
    if (wantedNoLockedIO != StartNoLockedIO && !StoreLayerSwitch(dialog, &NoLockedIO, wantedNoLockedIO))
        return FALSE;
    if (wantedNoTimedIO != StartNoTimedIO && !StoreLayerSwitch(dialog, &NoTimedIO, wantedNoTimedIO))
        return FALSE;
    return TRUE;
}

static DWORD BoxValue(HWND dialog, int id)
{
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED ? 1 : 0;
}

static void SettingsInit(HWND dialog)
{
    SetWindowTextA(dialog, CaptionText);
    StartNoLockedIO = ReadLayerSwitch(&NoLockedIO);
    StartNoTimedIO = ReadLayerSwitch(&NoTimedIO);
    if (StartNoTimedIO == 1)
        CheckDlgButton(dialog, IDC_SETTINGS_NOTIMEDIO, BST_CHECKED);
    if (StartNoLockedIO == 1)
        CheckDlgButton(dialog, IDC_SETTINGS_NOLOCKEDIO, BST_CHECKED);
}

static INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    switch (msg) {
    case WM_INITDIALOG:
        SettingsInit(dialog);
        return TRUE;  // the focus goes to the default button, OK

    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            if (ApplyLayerSwitches(dialog, BoxValue(dialog, IDC_SETTINGS_NOTIMEDIO),
                                   BoxValue(dialog, IDC_SETTINGS_NOLOCKEDIO)))
                EndDialog(dialog, IDOK);
            break;
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            break;
        default:
            return FALSE;
        }
        SetWindowLongA(dialog, DWL_MSGRESULT, 0);
        return TRUE;

    case WM_CLOSE:
        EndDialog(dialog, IDCANCEL);
        SetWindowLongA(dialog, DWL_MSGRESULT, 0);
        return TRUE;
    }
    return FALSE;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show)
{
    HANDLE running;

    (void)previous;
    (void)commandLine;
    (void)show;

    // The event only marks that a copy runs; a name already taken by another
    // kind of object makes the create fail, and then we stay out as well.
    running = CreateEventA(NULL, FALSE, FALSE, "ControlQuinCDIO");
    if (running == NULL)
        return 0;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(running);
        return 0;
    }

    InitCommonControls();
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_SETTINGS), NULL, SettingsDialogProc, 0);
    CloseHandle(running);
    return 0;
}
