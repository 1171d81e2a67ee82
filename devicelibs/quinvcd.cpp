// QuinVCD.dll stand-in: the virtual drive library's entry points, steered by registry emulation settings.
#include "quinvcd.h"
#include "emulation.h"

static const char EMULATION_KEY[] = "SOFTWARE\\Quintessa\\QuinVCD\\Emulation";
static const char CALLS_KEY[] = "SOFTWARE\\Quintessa\\QuinVCD\\Emulation\\Calls";
static const char DRIVE_LETTERS[] = "DriveLetters";

// Drive letters C: to Z: can be virtual; A: and B: are the floppy letters the tray never asks about.
#define FIRST_VIRTUAL_INDEX 2
#define LAST_VIRTUAL_INDEX 25
#define MAX_LETTERS (LAST_VIRTUAL_INDEX - FIRST_VIRTUAL_INDEX + 1)
#define MAX_WANTED_DRIVES 8

// Handles are the drive letter tagged with a marker, so they need no clean-up and CloseVODD can
// tell its own handles from any other value.
#define HANDLE_TAG 0x56440000u
#define HANDLE_TAG_MASK 0xFFFFFF00u

// The virtual drive letters in their stored order, normalised.
struct DriveLetters {
    char letter[MAX_LETTERS + 1];
    unsigned count;
};

// Adds the upper-cased letters C to Z of `text` up to its first NUL, each once, in order;
// anything else (digits, A, B, punctuation, repeats) is skipped.
static void AddLetters(DriveLetters *drives, const char *text, DWORD size)
{
    for (DWORD i = 0; i < size && text[i] != '\0'; i++) {
        char c = text[i];
        if (c >= 'a' && c <= 'z')
            c = (char)(c - 'a' + 'A');
        if (c < 'A' + FIRST_VIRTUAL_INDEX || c > 'Z')
            continue;
        bool seen = false;
        for (unsigned j = 0; j < drives->count; j++)
            if (drives->letter[j] == c)
                seen = true;
        if (!seen && drives->count < MAX_LETTERS)
            drives->letter[drives->count++] = c;
    }
    drives->letter[drives->count] = '\0';
}

// Reads DriveLetters; a missing value, a value that is not REG_SZ or one that cannot be read
// gives no drives.  The value may lack its NUL or be of any size, so it is read whole into a
// buffer of its own size and scanned only within that size.
static void ReadDriveLetters(DriveLetters *drives)
{
    drives->count = 0;
    drives->letter[0] = '\0';
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, EMULATION_KEY, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return;
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key, DRIVE_LETTERS, NULL, &type, NULL, &size) == ERROR_SUCCESS
        && type == REG_SZ && size > 0) {
        char *text = (char *)HeapAlloc(GetProcessHeap(), 0, size);
        if (text != NULL) {
            // A value that grew since the size query fails here and counts as no drives.
            if (RegQueryValueExA(key, DRIVE_LETTERS, NULL, &type, (BYTE *)text, &size) == ERROR_SUCCESS
                && type == REG_SZ)
                AddLetters(drives, text, size);
            HeapFree(GetProcessHeap(), 0, text);
        }
    }
    RegCloseKey(key);
}

// Stores the letters as REG_SZ with its terminating NUL.
static BOOL WriteDriveLetters(const DriveLetters *drives)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, EMULATION_KEY, 0, NULL, 0, KEY_SET_VALUE, NULL, &key,
                        NULL) != ERROR_SUCCESS)
        return FALSE;
    LONG rc = RegSetValueExA(key, DRIVE_LETTERS, 0, REG_SZ, (const BYTE *)drives->letter,
                             drives->count + 1);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

static bool IsVirtual(const DriveLetters *drives, char letter)
{
    for (unsigned i = 0; i < drives->count; i++)
        if (drives->letter[i] == letter)
            return true;
    return false;
}

extern "C" {

int __cdecl VODDInit(int mode)
{
    (void)mode;
    DWORD lastError = GetLastError();
    Emulation_CountCall(CALLS_KEY, "VODDInit");
    int result = (int)Emulation_ReadDword(EMULATION_KEY, "InitResult", 1);
    SetLastError(lastError);
    return result;
}

int __cdecl VODDIsInstalled(void)
{
    DWORD lastError = GetLastError();
    Emulation_CountCall(CALLS_KEY, "VODDIsInstalled");
    int result = (int)Emulation_ReadDword(EMULATION_KEY, "Installed", 1);
    SetLastError(lastError);
    return result;
}

// The emulated drives live only in the settings, so there is nothing to restore.
int __cdecl VODDRestoreDrives(int mode)
{
    (void)mode;
    DWORD lastError = GetLastError();
    Emulation_CountCall(CALLS_KEY, "VODDRestoreDrives");
    SetLastError(lastError);
    return 1;
}

unsigned __cdecl VODDGetDrives(void)
{
    DWORD lastError = GetLastError();
    Emulation_CountCall(CALLS_KEY, "VODDGetDrives");
    DriveLetters drives;
    ReadDriveLetters(&drives);
    SetLastError(lastError);
    return drives.count;
}

// Fewer drives keep the first letters; more drives take free letters from Z: downward, free
// meaning neither virtual already nor a drive the system reports.  When not enough letters are
// free nothing changes and the call fails.
int __cdecl VODDSetDrives(int count)
{
    DWORD lastError = GetLastError();
    Emulation_CountCall(CALLS_KEY, "VODDSetDrives");
    int result = 0;
    if (count >= 0 && count <= MAX_WANTED_DRIVES
        && Emulation_ReadDword(EMULATION_KEY, "SetDrivesFails", 0) == 0) {
        DriveLetters drives;
        ReadDriveLetters(&drives);
        DWORD systemDrives = GetLogicalDrives();
        for (int index = LAST_VIRTUAL_INDEX;
             index >= FIRST_VIRTUAL_INDEX && drives.count < (unsigned)count; index--) {
            char letter = (char)('A' + index);
            if (!IsVirtual(&drives, letter) && !(systemDrives & (1u << index)))
                drives.letter[drives.count++] = letter;
        }
        if (drives.count >= (unsigned)count) {
            drives.count = (unsigned)count;
            drives.letter[drives.count] = '\0';
            result = WriteDriveLetters(&drives) ? 1 : 0;
        }
    }
    SetLastError(lastError);
    return result;
}

// The mode argument carries no meaning here.
HANDLE __cdecl OpenVODDLetter(BYTE driveIndex, int mode)
{
    (void)mode;
    DWORD lastError = GetLastError();
    Emulation_CountCall(CALLS_KEY, "OpenVODDLetter");
    HANDLE result = NULL;
    if (driveIndex >= FIRST_VIRTUAL_INDEX && driveIndex <= LAST_VIRTUAL_INDEX) {
        DriveLetters drives;
        ReadDriveLetters(&drives);
        char letter = (char)('A' + driveIndex);
        if (IsVirtual(&drives, letter))
            result = (HANDLE)(UINT_PTR)(HANDLE_TAG | (BYTE)letter);
    }
    SetLastError(lastError);
    return result;
}

// Non-zero for a handle that OpenVODDLetter gave out, 0 for any other value.
int __cdecl CloseVODD(HANDLE drive)
{
    DWORD lastError = GetLastError();
    Emulation_CountCall(CALLS_KEY, "CloseVODD");
    UINT_PTR value = (UINT_PTR)drive;
    BYTE letter = (BYTE)(value & 0xFF);
    int result = ((value & HANDLE_TAG_MASK) == HANDLE_TAG && letter >= 'A' + FIRST_VIRTUAL_INDEX
                  && letter <= 'Z') ? 1 : 0;
    SetLastError(lastError);
    return result;
}

}  // extern "C"
