/* OrvandTray: Explorer's icon and label for the letters of virtual drives. */
#include <windows.h>
#include "tray.h"
#include "quincdio.h"
#include "quinvcd.h"

#define OPTION_KEY "SOFTWARE\\Quintessa\\Orvand\\VirtualFarodrive"
#define OPTION_VALUE "VirtualSheep"

/* Explorer reads a letter's icon from either place; the machine-wide one goes through the
   I/O layer's registry calls, the per-user one through the system's. */
#define MACHINE_ICONS_KEY "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\DriveIcons"
#define USER_ICONS_KEY "Applications\\Explorer.exe\\Drives\\DriveIcons"

/* A letter key is the tray's exactly when this value reads non-zero. */
#define MARKER_VALUE "VirtualFarodrive"
#define ICON_FILE "VirtualFarodrive.ico"
#define DRIVE_LABEL "Virtual Farodrive"

#define DRIVE_COUNT 26
#define FIRST_NON_FLOPPY 2

/* Key names below the DriveIcons keys: one letter and a subkey. */
#define CHILD_NAME_CHARS 256

DWORD SheepIconsOn = 1;

void ReadSheepIconsOption(void)
{
    HKEY key;
    DWORD stored = 1;
    DWORD size = sizeof(stored);

    if (!ShellIconSupport) {
        SheepIconsOn = 0;
        return;
    }
    SheepIconsOn = 1;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, OPTION_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    /* The type is not asked: a shorter value replaces only the low bytes of the 1.  A longer
       one does not fit, and what the registry left in the buffer then is undefined, so the
       option simply stays on. */
    if (RegQueryValueExA(key, OPTION_VALUE, NULL, NULL, (BYTE *)&stored, &size) == ERROR_SUCCESS)
        SheepIconsOn = stored;
    RegCloseKey(key);
}

void StoreSheepIconsOption(void)
{
    HKEY key;
    DWORD stored = SheepIconsOn;

    if (!ShellIconSupport)
        return;
    if (QuinCDIO_RegCreateKeyEx(HKEY_LOCAL_MACHINE, OPTION_KEY, 0, NULL, 0, KEY_WRITE, NULL, &key,
                                NULL) == ERROR_SUCCESS) {
        RegSetValueExA(key, OPTION_VALUE, 0, REG_DWORD, (const BYTE *)&stored, sizeof(stored));
        RegCloseKey(key);
    }
    /* A value that could not be stored still counts for this run. */
    if (SheepIconsOn)
        ApplyDriveIconsAll();
    else
        ClearDriveIconsAll();
}

static BOOL IsDriveIndex(int driveIndex)
{
    return driveIndex >= 0 && driveIndex < DRIVE_COUNT;
}

static LONG CreatePlaceKey(BOOL machine, const char *path, HKEY *key)
{
    if (machine)
        return QuinCDIO_RegCreateKeyEx(HKEY_LOCAL_MACHINE, path, 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                                       key, NULL);
    return RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, NULL, 0, KEY_ALL_ACCESS, NULL, key, NULL);
}

static LONG OpenPlaceKey(BOOL machine, const char *path, HKEY *key)
{
    if (machine)
        return QuinCDIO_RegOpenKeyEx(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, key);
    return RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, key);
}

/* Non-zero only for a marker that fits its four bytes: after a failed read the buffer's
   contents are undefined and must not make a key look like the tray's. */
static DWORD ReadMarker(HKEY key)
{
    DWORD marker = 0;
    DWORD size = sizeof(marker);

    if (RegQueryValueExA(key, MARKER_VALUE, NULL, NULL, (BYTE *)&marker, &size) != ERROR_SUCCESS)
        return 0;
    return marker;
}

/* FALSE when the letter key does not exist or cannot be opened; *marker is 0 then. */
static BOOL ReadLetterMarker(BOOL machine, const char *letterKey, DWORD *marker)
{
    HKEY key;

    *marker = 0;
    if (OpenPlaceKey(machine, letterKey, &key) != ERROR_SUCCESS)
        return FALSE;
    *marker = ReadMarker(key);
    RegCloseKey(key);
    return TRUE;
}

static void SetPlaceValue(BOOL machine, const char *path, const char *name, DWORD type,
                          const BYTE *data, DWORD size)
{
    HKEY key;

    if (CreatePlaceKey(machine, path, &key) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, name, 0, type, data, size);
    RegCloseKey(key);
}

static void SetPlaceText(BOOL machine, const char *path, const char *text)
{
    /* Lengths of text values count their NUL. */
    SetPlaceValue(machine, path, NULL, REG_SZ, (const BYTE *)text, (DWORD)lstrlenA(text) + 1);
}

static void CreateParentKey(BOOL machine, const char *parent)
{
    HKEY key;

    if (CreatePlaceKey(machine, parent, &key) == ERROR_SUCCESS)
        RegCloseKey(key);
}

/* The entries of one letter in one place.  Every step is tried whatever became of the steps
   before it.  iconPath NULL: no icon entry, only the marker and the label. */
static void SetPlaceEntries(BOOL machine, const char *parent, int driveIndex,
                            const char *iconPath)
{
    char path[TRAY_PATH_CHARS];
    const DWORD ours = 1;
    DWORD marker;
    char letter = (char)('A' + driveIndex);

    CreateParentKey(machine, parent);
    wsprintfA(path, "%s\\%c", parent, letter);
    /* A letter key without the marker belongs to another program.  Marking it would make a
       later clear delete it whole, with that program's entries, so the place is left as it
       is. */
    if (ReadLetterMarker(machine, path, &marker) && !marker)
        return;
    SetPlaceValue(machine, path, MARKER_VALUE, REG_DWORD, (const BYTE *)&ours, sizeof(ours));
    if (iconPath) {
        wsprintfA(path, "%s\\%c\\DefaultIcon", parent, letter);
        SetPlaceText(machine, path, iconPath);
    }
    wsprintfA(path, "%s\\%c\\DefaultLabel", parent, letter);
    SetPlaceText(machine, path, DRIVE_LABEL);
}

/* ProgramFolder and the icon file's name; FALSE when that does not fit, because a cut path
   would name some other file. */
static BOOL BuildIconPath(char *path)
{
    if (lstrlenA(ProgramFolder) + lstrlenA(ICON_FILE) >= TRAY_PATH_CHARS)
        return FALSE;
    lstrcpyA(path, ProgramFolder);
    lstrcatA(path, ICON_FILE);
    return TRUE;
}

void SetDriveIcons(int driveIndex)
{
    char iconPath[TRAY_PATH_CHARS];
    const char *icon;

    if (!IsDriveIndex(driveIndex))
        return;
    icon = BuildIconPath(iconPath) ? iconPath : NULL;
    SetPlaceEntries(TRUE, MACHINE_ICONS_KEY, driveIndex, icon);
    SetPlaceEntries(FALSE, USER_ICONS_KEY, driveIndex, icon);
}

void ClearDriveIcons(int driveIndex)
{
    char path[TRAY_PATH_CHARS];
    char letter[2];
    DWORD marker;
    HKEY parent;

    if (!IsDriveIndex(driveIndex))
        return;
    letter[0] = (char)('A' + driveIndex);
    letter[1] = '\0';

    wsprintfA(path, "%s\\%s", MACHINE_ICONS_KEY, letter);
    ReadLetterMarker(TRUE, path, &marker);
    if (marker && QuinCDIO_RegOpenKeyEx(HKEY_LOCAL_MACHINE, MACHINE_ICONS_KEY, 0, KEY_ALL_ACCESS,
                              &parent) == ERROR_SUCCESS) {
        DeleteKeyTree(parent, letter);
        RegCloseKey(parent);
    }

    wsprintfA(path, "%s\\%s", USER_ICONS_KEY, letter);
    ReadLetterMarker(FALSE, path, &marker);
    if (marker)
        DeleteKeyTree(HKEY_CURRENT_USER, path);
}

/* A: and B: are floppy letters: never given entries here, but cleared by ClearDriveIconsAll. */
void ApplyDriveIconsAll(void)
{
    HANDLE drive;
    int index;

    for (index = FIRST_NON_FLOPPY; index < DRIVE_COUNT; index++) {
        drive = OpenVODDLetter((BYTE)index, 0);
        if (drive) {
            SetDriveIcons(index);
            CloseVODD(drive);
        } else {
            ClearDriveIcons(index);
        }
    }
}

void ClearDriveIconsAll(void)
{
    int index;

    for (index = 0; index < DRIVE_COUNT; index++)
        ClearDriveIcons(index);
}

/* Depth first: RegDeleteKey takes only a key without subkeys.  Index 0 is asked every time,
   because each deleted child moves the next one to the front; a child that cannot be deleted
   ends the loop, which would otherwise ask for it forever. */
LONG DeleteKeyTree(HKEY key, const char *subKey)
{
    char child[CHILD_NAME_CHARS];
    HKEY open;
    LONG result;

    /* An empty path would name the given key itself, a root key included. */
    if (!subKey || !*subKey)
        return ERROR_INVALID_PARAMETER;
    result = QuinCDIO_RegOpenKeyEx(key, subKey, 0, KEY_READ, &open);
    if (result != ERROR_SUCCESS)
        return result;
    while (RegEnumKeyA(open, 0, child, sizeof(child)) == ERROR_SUCCESS) {
        if (DeleteKeyTree(open, child) != ERROR_SUCCESS)
            break;
    }
    RegCloseKey(open);
    /* Tried even when a child stayed: the registry then refuses and says why. */
    return QuinCDIO_RegDeleteKey(key, subKey);
}
