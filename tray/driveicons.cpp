/* OrvandTray: Explorer's icon and label for the letters of virtual drives. */
#include <windows.h>
#include "tray.h"

DWORD SheepIconsOn = 1;

void ReadSheepIconsOption(void)
{
    SheepIconsOn = ShellIconSupport ? 1 : 0;
}

void StoreSheepIconsOption(void)
{
}

void SetDriveIcons(int driveIndex)
{
    (void)driveIndex;
}

void ClearDriveIcons(int driveIndex)
{
    (void)driveIndex;
}

void ApplyDriveIconsAll(void)
{
}

void ClearDriveIconsAll(void)
{
}

LONG DeleteKeyTree(HKEY key, const char *subKey)
{
    (void)key;
    (void)subKey;
    return ERROR_CALL_NOT_IMPLEMENTED;
}
