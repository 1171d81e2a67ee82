/* OrvandTray: digital audio for the virtual drives' devices, through their registry entries. */
#include <windows.h>
#include "tray.h"
#include "filterlist.h"

/* NT family: the DOS device names of the virtual drives and the keys of their devices. */
#define NAME_LIST_BYTES 65535
#define DEVICE_NAME_PREFIX "SCSI#CdRom"
#define DEVICE_NAME_PREFIX_CHARS 10
/* A target of a virtual drive reads "\Device\Scsi\QuinVCD..." whatever the letter case. */
#define TARGET_MIN_CHARS 20
#define TARGET_DRIVER_OFFSET 13
#define TARGET_DRIVER "QuinVCD"
#define TARGET_DRIVER_CHARS 7
#define ENUM_KEY_PREFIX "SYSTEM\\CurrentControlSet\\Enum\\"
#define AUDIO_FILTER "redbook"

/* Windows 9x: the devices' keys under HKLM "Enum" and their class keys. */
#define SCSI_ENUM_KEY "Enum\\SCSI"
#define ROOT_INSTANCE_PREFIX "ROOT"
#define ROOT_INSTANCE_PREFIX_CHARS 4
#define ROOT_ENUM_PREFIX "Enum\\"
#define VIRTUAL_DRIVE_DESCRIPTION "Virtual Farodrive"
#define CLASS_KEY_PREFIX "SYSTEM\\CurrentControlSet\\Services\\Class\\"
#define CD_ROM_DEVICE_TYPE 5

void RepairVirtualDriveDevices(void)
{
    if (OsVersionCode < 4)
        RepairWin9xDevices();
    else if (OsVersionCode > 4)
        RepairNtDevices();
}

/* The first `count` characters of text equal the prefix, ignoring case; a shorter text fails
   at its NUL.  Device names and targets are ASCII object names, and the fold changes ASCII
   letters only, so neither the code page nor the locale can change the answer. */
static BOOL StartsWithNoCase(const char *text, const char *prefix, int count)
{
    int i;
    char a, b;

    for (i = 0; i < count; i++) {
        a = text[i];
        b = prefix[i];
        if (a >= 'a' && a <= 'z')
            a = (char)(a - 'a' + 'A');
        if (b >= 'a' && b <= 'z')
            b = (char)(b - 'a' + 'A');
        if (a != b)
            return FALSE;
    }
    return TRUE;
}

BOOL BuildDeviceEnumKeyPath(const char *deviceName, char *path)
{
    int length = lstrlenA(ENUM_KEY_PREFIX);
    int hashes = 0;
    const char *c;

    lstrcpyA(path, ENUM_KEY_PREFIX);
    for (c = deviceName; *c; c++) {
        if (*c == '#' && ++hashes == 3)
            break;
        if (length == TRAY_PATH_CHARS - 1) {
            path[0] = '\0';
            return FALSE;
        }
        path[length++] = *c == '#' ? '\\' : *c;
    }
    path[length] = '\0';
    return TRUE;
}

/* The test on the target: what QueryDosDeviceA stores for the name, NULs counted, is more
   than 20 characters, and its first target names the virtual drive driver at offset 13. */
static BOOL IsVirtualDriveTarget(QueryDosDeviceFunction query, const char *name)
{
    char target[TRAY_PATH_CHARS];
    DWORD stored;

    ZeroMemory(target, sizeof(target));
    stored = query(name, target, TRAY_PATH_CHARS);
    if (stored <= TARGET_MIN_CHARS || stored > TRAY_PATH_CHARS)
        return FALSE;
    /* A function that filled the buffer to its end left no NUL there. */
    target[TRAY_PATH_CHARS - 1] = '\0';
    /* The first target, up to its own NUL, must reach past offset 13. */
    if (lstrlenA(target) < TARGET_DRIVER_OFFSET)
        return FALSE;
    return StartsWithNoCase(target + TARGET_DRIVER_OFFSET, TARGET_DRIVER, TARGET_DRIVER_CHARS);
}

static void RepairNtDevice(const char *name)
{
    char path[TRAY_PATH_CHARS];

    /* A key path that does not fit names no device this walk could reach. */
    if (!BuildDeviceEnumKeyPath(name, path))
        return;
    FilterListClean(path, 1);
    FilterListAdd(path, AUDIO_FILTER, 1, 1);
}

void RepairNtDeviceList(QueryDosDeviceFunction query)
{
    char *names;
    DWORD stored;
    DWORD offset;
    int length;

    /* Two bytes more than the list may fill: whatever the function stores, the walk below
       meets a NUL and an empty name before the end of the block. */
    names = (char *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, NAME_LIST_BYTES + 2);
    if (!names)
        return;
    /* No device name: the list of all of them.  0 also when the list does not fit. */
    stored = query(NULL, names, NAME_LIST_BYTES);
    if (stored != 0) {
        for (offset = 0; offset < NAME_LIST_BYTES && names[offset]; offset += length + 1) {
            length = lstrlenA(names + offset);
            if (StartsWithNoCase(names + offset, DEVICE_NAME_PREFIX, DEVICE_NAME_PREFIX_CHARS) &&
                IsVirtualDriveTarget(query, names + offset))
                RepairNtDevice(names + offset);
        }
    }
    HeapFree(GetProcessHeap(), 0, names);
}

/* Looked up at run time rather than imported, so that a KERNEL32 without it cannot keep the
   tray from loading. */
void RepairNtDevices(void)
{
    HMODULE kernel = GetModuleHandleA("KERNEL32");
    QueryDosDeviceFunction query;

    if (!kernel)
        return;
    /* Through the generic function type, which the compiler accepts for any function. */
    query = (QueryDosDeviceFunction)(void (*)(void))GetProcAddress(kernel, "QueryDosDeviceA");
    if (query)
        RepairNtDeviceList(query);
}

/* A text value read whole and terminated: the buffer starts zeroed and the last byte is kept
   out of the read, so data stored without its NUL still ends in one.  A value that does not
   fit gives FALSE, never a cut text. */
static BOOL ReadTextValue(HKEY key, const char *name, char *text)
{
    DWORD size = TRAY_PATH_CHARS - 1;

    ZeroMemory(text, TRAY_PATH_CHARS);
    return RegQueryValueExA(key, name, NULL, NULL, (BYTE *)text, &size) == ERROR_SUCCESS;
}

/* The instance's own key: "Enum\" and the instance name with '&' as '\', without its last
   two characters (ROOT&A&0000&0 is Enum\ROOT\A\0000). */
static BOOL IsVirtualDriveInstance(const char *instanceName)
{
    char path[TRAY_PATH_CHARS];
    char description[TRAY_PATH_CHARS];
    int prefixLength = lstrlenA(ROOT_ENUM_PREFIX);
    int nameLength = lstrlenA(instanceName);
    int keep = prefixLength + nameLength - 2;
    int i;
    HKEY key;
    BOOL virtualDrive;

    if (keep >= TRAY_PATH_CHARS)
        return FALSE;
    lstrcpyA(path, ROOT_ENUM_PREFIX);
    for (i = prefixLength; i < keep; i++) {
        char c = instanceName[i - prefixLength];
        path[i] = c == '&' ? '\\' : c;
    }
    path[keep] = '\0';
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return FALSE;
    virtualDrive = ReadTextValue(key, "DeviceDesc", description) &&
                   lstrcmpA(description, VIRTUAL_DRIVE_DESCRIPTION) == 0;
    RegCloseKey(key);
    return virtualDrive;
}

/* Bit 0 of the class key's one-byte "DigitalAudioPlay"; a value that is missing or longer
   than a byte is not the one this switch knows and stays as it is. */
static void EnableDigitalAudio(const char *driver)
{
    char path[TRAY_PATH_CHARS];
    BYTE play = 0;
    DWORD size = sizeof(play);
    HKEY key;

    if (lstrlenA(CLASS_KEY_PREFIX) + lstrlenA(driver) >= TRAY_PATH_CHARS)
        return;
    wsprintfA(path, CLASS_KEY_PREFIX "%s", driver);
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    if (RegQueryValueExA(key, "DigitalAudioPlay", NULL, NULL, &play, &size) == ERROR_SUCCESS &&
        !(play & 1)) {
        play |= 1;
        RegSetValueExA(key, "DigitalAudioPlay", 0, REG_BINARY, &play, sizeof(play));
    }
    RegCloseKey(key);
}

/* Only a "DeviceType" of one byte 5 is a CD-ROM.  A longer value fails to fit the byte, and
   what a failed read leaves in it is undefined, so the read's result decides. */
static void RepairWin9xInstance(HKEY device, const char *instanceName)
{
    char driver[TRAY_PATH_CHARS];
    BYTE type = 0;
    DWORD size = sizeof(type);
    HKEY key;

    if (RegOpenKeyExA(device, instanceName, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    if (RegQueryValueExA(key, "DeviceType", NULL, NULL, &type, &size) == ERROR_SUCCESS &&
        type == CD_ROM_DEVICE_TYPE && ReadTextValue(key, "Driver", driver))
        EnableDigitalAudio(driver);
    RegCloseKey(key);
}

/* The instances of one device name, in the registry's order: the first one that is not a
   virtual drive's ends the look at this device name. */
static void RepairWin9xDevice(HKEY scsi, const char *deviceName)
{
    char instanceName[TRAY_PATH_CHARS];
    DWORD index;
    HKEY device;

    if (RegOpenKeyExA(scsi, deviceName, 0, KEY_READ, &device) != ERROR_SUCCESS)
        return;
    for (index = 0; RegEnumKeyA(device, index, instanceName, TRAY_PATH_CHARS) == ERROR_SUCCESS;
         index++) {
        if (!StartsWithNoCase(instanceName, ROOT_INSTANCE_PREFIX, ROOT_INSTANCE_PREFIX_CHARS))
            break;
        if (!IsVirtualDriveInstance(instanceName))
            break;
        RepairWin9xInstance(device, instanceName);
    }
    RegCloseKey(device);
}

void RepairWin9xDevices(void)
{
    char deviceName[TRAY_PATH_CHARS];
    DWORD index;
    HKEY scsi;

    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SCSI_ENUM_KEY, 0, KEY_READ, &scsi) != ERROR_SUCCESS)
        return;
    for (index = 0; RegEnumKeyA(scsi, index, deviceName, TRAY_PATH_CHARS) == ERROR_SUCCESS; index++)
        RepairWin9xDevice(scsi, deviceName);
    RegCloseKey(scsi);
}
