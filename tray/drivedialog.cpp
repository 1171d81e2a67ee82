/* OrvandTray: the dialog for the number of virtual drives and their icon option. */
#include <windows.h>
#include "tray.h"

void ShowVirtualDriveDialog(HWND owner)
{
    (void)owner;
}
