/* Registry helpers shared by the two device-layer stand-ins: emulation settings and call counters. */
#ifndef QUIN_EMULATION_H
#define QUIN_EMULATION_H

#include <windows.h>

/* The REG_DWORD `name` under HKLM `keyPath`.  A missing key or value, another type, or a size
   other than four bytes gives `fallback`: the settings are hand-edited, so junk is expected. */
DWORD Emulation_ReadDword(const char *keyPath, const char *name, DWORD fallback);

/* Stores `value` as REG_DWORD `name` under HKLM `keyPath`, creating the key.  TRUE on success. */
BOOL Emulation_WriteDword(const char *keyPath, const char *name, DWORD value);

/* Adds one to the REG_DWORD counter `name` under HKLM `callsPath`; a missing or malformed counter
   starts from 0.  Failures are ignored: counting must never change what the caller sees.
   The read and the write are separate registry calls, so two processes counting the same
   function at the same moment may lose one count; the programs counted have one thread. */
void Emulation_CountCall(const char *callsPath, const char *name);

#endif
