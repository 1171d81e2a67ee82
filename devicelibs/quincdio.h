/* QuinCDIO.dll: the CD I/O layer.  Every function uses the C calling convention. */
#ifndef QUINCDIO_H
#define QUINCDIO_H

#include <windows.h>

#ifdef QUINCDIO_BUILD
#define QUINCDIO_API __declspec(dllexport)
#else
#define QUINCDIO_API __declspec(dllimport)
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* 0: the layer is ready; anything else: it is not. */
QUINCDIO_API int __cdecl QuinCDIO_InitScsi(int mode);
/* Closes the layer after a successful QuinCDIO_InitScsi. */
QUINCDIO_API void __cdecl QuinCDIO_DeInitScsi(void);
/* 0 failure; 1-3 Windows 95/98/ME; 4 NT 4.0; 5 2000; 6 XP and later. */
QUINCDIO_API int __cdecl QuinCDIO_GetOSVersion(void);
/* Only the low byte of the result counts: non-zero means CD targets were found.
   Callers pass mode 1 and a byte they do not read afterwards. */
QUINCDIO_API int __cdecl QuinCDIO_EnumTargets(int mode, unsigned char *scratch);

/* The registry calls give the Win32 results: 0 (ERROR_SUCCESS) or an error code.
   Keys they return are ordinary registry keys, closed with RegCloseKey. */
QUINCDIO_API LONG __cdecl QuinCDIO_RegOpenKeyEx(HKEY root, LPCSTR subKey, DWORD options,
                                                REGSAM access, PHKEY key);
QUINCDIO_API LONG __cdecl QuinCDIO_RegCreateKeyEx(HKEY root, LPCSTR subKey, DWORD reserved,
                                                  LPSTR keyClass, DWORD options, REGSAM access,
                                                  LPSECURITY_ATTRIBUTES security, PHKEY key,
                                                  LPDWORD disposition);
QUINCDIO_API LONG __cdecl QuinCDIO_RegDeleteKey(HKEY root, LPCSTR subKey);

/* Command 2 hands the status word to the layer, command 1 reads it back.
   0: masking is not available and nothing changed. */
#define MASKREC_GET 1
#define MASKREC_SET 2
QUINCDIO_API int __cdecl MaskRec_SendCommand(int command, WORD *status);

#ifdef __cplusplus
}
#endif

#endif
