/* OrvandTray: digital audio for the virtual drives' devices, through their registry entries. */
#include <windows.h>
#include "tray.h"

void RepairVirtualDriveDevices(void)
{
}
