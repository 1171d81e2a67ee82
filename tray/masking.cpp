/* OrvandTray: the media-masking switch of the CD I/O layer, the user's stored choice, and the
   requests of other programs to refresh the tray or to lift masking for a while. */
#include <windows.h>
#include <shellapi.h>
#include "tray.h"
#include "resource.h"
#include "quincdio.h"

#define SETTINGS_KEY "SOFTWARE\\Quintessa\\Orvand\\Settings"
#define STATUS_VALUE "OrvandTrayStatus"

WORD TrayStatus;
BOOL MaskingChosen;
LONG DisableCount;

/* The stored choice, or 1 (masking on) when there is none that fits four bytes.  The buffer
   starts zeroed, so a shorter value brings no stray bits. */
void LoadTrayStatus(WORD *status)
{
    HKEY key;
    DWORD stored = 0;
    DWORD size = sizeof(stored);

    *status = 1;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    if (RegQueryValueExA(key, STATUS_VALUE, NULL, NULL, (BYTE *)&stored, &size) == ERROR_SUCCESS)
        *status = LOWORD(stored);
    RegCloseKey(key);
}

int StoreTrayStatus(WORD *status)
{
    HKEY key;
    DWORD stored = *status;

    if (RegCreateKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key,
                        NULL) != ERROR_SUCCESS)
        return 0;
    RegSetValueExA(key, STATUS_VALUE, 0, REG_DWORD, (const BYTE *)&stored, sizeof(stored));
    RegCloseKey(key);
    return MaskingApply(status);
}

int MaskingQuery(WORD *status)
{
    return MaskRec_SendCommand(MASKING_QUERY, status);
}

int MaskingApply(WORD *status)
{
    return MaskRec_SendCommand(MASKING_APPLY, status);
}

static void ShowStatusIcon(HWND window)
{
    NotifyTrayIcon(window, NIM_MODIFY, LoadStatusIcon(TrayInstance, TrayStatus));
}

/* A result of 0 means the layer's switch is unavailable: masking shows as off and the menu
   item is grayed until a later query or apply succeeds. */
void ApplyMaskingResult(HWND window, int result)
{
    if (!result)
        TrayStatus = 0;
    RelabelMenu(window, result);
    UpdateMenuChecks(window, TrayStatus);
    EnableMenuItem(TrayPopupMenu(window), IDM_MASKING, MF_BYCOMMAND | (result ? MF_ENABLED : MF_GRAYED));
    ShowStatusIcon(window);
}

void ReapplyStoredMasking(HWND window)
{
    LoadTrayStatus(&TrayStatus);
    ApplyMaskingResult(window, MaskingApply(&TrayStatus));
}

void RefreshMaskingFromLayer(HWND window)
{
    ApplyMaskingResult(window, MaskingQuery(&TrayStatus));
}

void TakeMaskingChoice(void)
{
    MaskingChosen = (TrayStatus & 1) != 0;
}

void ToggleMasking(HWND window, UINT itemState)
{
    BOOL checked;

    /* A grayed item cannot be chosen; a command posted by hand while the switch is
       unavailable is not one either. */
    if (itemState == (UINT)-1 || (itemState & (MF_GRAYED | MF_DISABLED)))
        return;
    checked = !(itemState & MF_CHECKED);
    CheckMenuItem(TrayPopupMenu(window), IDM_MASKING, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
    if (checked)
        TrayStatus |= 1;
    else
        TrayStatus &= (WORD)~1;
    if (!StoreTrayStatus(&TrayStatus))
        return;
    MaskingChosen = (TrayStatus & 1) != 0;
    ShowStatusIcon(window);
}

void OnShowIconMessage(HWND window)
{
    int result = MaskingQuery(&TrayStatus);

    RelabelMenu(window, result);
    if (!result)
        return;
    UpdateMenuChecks(window, TrayStatus);
    ShowStatusIcon(window);
}

/* wParam 0 asks to lift masking, non-zero to bring it back; requests nest, so masking returns
   with the enable request that answers the first disable.  Nothing here is stored. */
void OnEnableMessage(HWND window, WPARAM enable)
{
    BOOL changed = FALSE;

    if (!MaskingQuery(&TrayStatus))
        return;
    if (!enable) {
        TrayStatus &= (WORD)~1;
        if (DisableCount < 0x7FFFFFFF)
            DisableCount++;
        changed = TRUE;
    } else {
        if (DisableCount > 0)
            DisableCount--;
        if (DisableCount == 0) {
            TrayStatus |= 1;
            changed = TRUE;
        }
    }
    if (!MaskingChosen || !changed)
        return;
    if (!MaskingApply(&TrayStatus))
        return;
    UpdateMenuChecks(window, TrayStatus);
    ShowStatusIcon(window);
}
