/* OrvandTray: the dialog for the number of virtual drives and their icon option. */
#include <windows.h>
#include "tray.h"
#include "resource.h"
#include "quinvcd.h"

/* Combo entry i stands for i drives; the library sets up at most eight. */
#define MOST_DRIVES 8

/* The dialog ends with this result however it closes; nobody reads it. */
#define DIALOG_RESULT 2

/* At most one dialog is open at a time, so one handle holds its language font. */
static HFONT DialogFont;

static void SetDialogIcons(HWND dialog)
{
    HICON smallIcon;
    HICON bigIcon;

    /* LR_SHARED: the system owns both icons, so nothing is destroyed with the dialog. */
    smallIcon = (HICON)LoadImageA(TrayInstance, MAKEINTRESOURCEA(IDI_MASKING_ON_XP), IMAGE_ICON,
                                  16, 16, LR_SHARED);
    bigIcon = (HICON)LoadImageA(TrayInstance, MAKEINTRESOURCEA(IDI_DRIVES), IMAGE_ICON, 32, 32,
                                LR_SHARED);
    SendMessageA(dialog, WM_SETICON, ICON_SMALL, (LPARAM)smallIcon);
    SendMessageA(dialog, WM_SETICON, ICON_BIG, (LPARAM)bigIcon);
}

static void FillDriveCounts(HWND dialog, unsigned drives)
{
    HWND combo = GetDlgItem(dialog, IDC_VIRTUALDRIVES_COUNT);
    char number[16];
    int count;

    SendMessageA(combo, CB_ADDSTRING, 0, (LPARAM)GetText(12));
    for (count = 1; count <= MOST_DRIVES; count++) {
        wsprintfA(number, "%d", count);
        SendMessageA(combo, CB_ADDSTRING, 0, (LPARAM)number);
    }
    /* Unsigned, so an answer the library should never give still selects a real entry. */
    if (drives > MOST_DRIVES)
        drives = MOST_DRIVES;
    SendMessageA(combo, CB_SETCURSEL, (WPARAM)drives, 0);
}

static void ShowSheepIconsOption(HWND dialog)
{
    HWND box = GetDlgItem(dialog, IDC_VIRTUALDRIVES_SHEEP);

    if (ShellIconSupport) {
        EnableWindow(box, TRUE);
        if (SheepIconsOn)
            CheckDlgButton(dialog, IDC_VIRTUALDRIVES_SHEEP, BST_CHECKED);
    } else {
        /* A shell without per-drive icons has no option to offer. */
        EnableWindow(box, FALSE);
        SheepIconsOn = 0;
    }
}

static void OnInitDialog(HWND dialog)
{
    unsigned drives;

    SetDialogIcons(dialog);
    drives = VODDGetDrives();
    SetWindowTextA(dialog, GetText(16));
    FillDriveCounts(dialog, drives);
    SetDlgItemTextA(dialog, IDC_VIRTUALDRIVES_LABEL, GetText(11));
    SetDlgItemTextA(dialog, IDOK, GetText(14));
    SetDlgItemTextA(dialog, IDCANCEL, GetText(13));
    SetDlgItemTextA(dialog, IDC_VIRTUALDRIVES_SHEEP, GetText(18));
    ShowSheepIconsOption(dialog);
    DialogFont = CreateLanguageFont(dialog, LanguageCodePage);
}

static INT_PTR CloseDialog(HWND dialog)
{
    EndDialog(dialog, DIALOG_RESULT);
    SetWindowLongA(dialog, DWL_MSGRESULT, 0);
    return TRUE;
}

/* The icon option goes first: the drives that the new number adds or removes get or lose
   their icons later, as they arrive or go. */
static INT_PTR OnOk(HWND dialog)
{
    int drives = (int)SendDlgItemMessageA(dialog, IDC_VIRTUALDRIVES_COUNT, CB_GETCURSEL, 0, 0);

    if (ShellIconSupport) {
        SheepIconsOn = IsDlgButtonChecked(dialog, IDC_VIRTUALDRIVES_SHEEP) == BST_CHECKED ? 1 : 0;
        StoreSheepIconsOption();
    }
    if (VODDSetDrives(drives) == 0)
        MessageBoxA(dialog, GetText(17), GetText(16), MB_ICONINFORMATION);
    return CloseDialog(dialog);
}

INT_PTR CALLBACK VirtualDriveDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(dialog);
        return TRUE;
    case WM_COMMAND:
        /* The combo box's and the check box's notifications fall through to the dialog
           manager; only the two buttons end the dialog. */
        switch (LOWORD(wParam)) {
        case IDOK:     return OnOk(dialog);
        case IDCANCEL: return CloseDialog(dialog);
        }
        return FALSE;
    case WM_CLOSE:
        return CloseDialog(dialog);
    case WM_DESTROY:
        if (DialogFont) {
            DeleteObject(DialogFont);
            DialogFont = NULL;
        }
        return FALSE;
    }
    return FALSE;
}

void ShowVirtualDriveDialog(HWND owner)
{
    DialogBoxParamA(TrayInstance, MAKEINTRESOURCEA(IDD_VIRTUALDRIVES), owner,
                    VirtualDriveDialogProc, 0);
}
