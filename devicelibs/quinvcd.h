/* QuinVCD.dll: the virtual drive library.  Every function uses the C calling convention. */
#ifndef QUINVCD_H
#define QUINVCD_H

#include <windows.h>

#ifdef QUINVCD_BUILD
#define QUINVCD_API __declspec(dllexport)
#else
#define QUINVCD_API __declspec(dllimport)
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Non-zero: ready. */
QUINVCD_API int __cdecl VODDInit(int mode);
/* Non-zero: virtual drives are installed. */
QUINVCD_API int __cdecl VODDIsInstalled(void);
/* Sets the virtual drives up again; callers pass 0 and ignore the result. */
QUINVCD_API int __cdecl VODDRestoreDrives(int mode);
/* The number of virtual drives now set up. */
QUINVCD_API unsigned __cdecl VODDGetDrives(void);
/* 0 to 8 drives; 0 means failure. */
QUINVCD_API int __cdecl VODDSetDrives(int count);
/* Drive index 0 is A:; callers pass 2 to 25 and mode 0.  Non-zero exactly when the letter
   is a virtual drive; such a handle goes back through CloseVODD. */
QUINVCD_API HANDLE __cdecl OpenVODDLetter(BYTE driveIndex, int mode);
/* Releases a handle from OpenVODDLetter; callers ignore the result. */
QUINVCD_API int __cdecl CloseVODD(HANDLE drive);

#ifdef __cplusplus
}
#endif

#endif
