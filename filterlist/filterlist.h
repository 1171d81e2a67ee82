/* Filter-driver lists (REG_MULTI_SZ values "UpperFilters"/"LowerFilters") in memory and in the registry. */
#ifndef FILTERLIST_H
#define FILTERLIST_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A list is NUL-terminated strings closed by an empty string.  List buffers
   come from the process heap (HeapAlloc(GetProcessHeap(), ...)); free them with
   HeapFree(GetProcessHeap(), 0, list). */

/* Bytes up to and including the closing NUL; 1 for an empty list. */
DWORD MultiSzSize(const char *list);
/* Removes every entry equal to name in place; returns how many went and stores
   the new list size in *size (size may be NULL).  Entries compare
   case-insensitively with a double-byte character of the C runtime's multibyte
   code page taken whole (_mbsicmp), so a trail byte is never case-folded. */
LONG MultiSzRemoveAll(const char *name, char *list, DWORD *size);
/* Put name once at the front / at the end, in the caller's letter case.  On
   success *list is a new buffer and the old one is freed.  FALSE when memory
   ran out (last error ERROR_NOT_ENOUGH_MEMORY; the old buffer stays, without
   name) or name is empty (ERROR_INVALID_PARAMETER; the list is untouched). */
BOOL MultiSzInsertFront(const char *name, char **list);
BOOL MultiSzAppend(const char *name, char **list);

/* The operations below work on the value "UpperFilters" (upper != 0) or
   "LowerFilters" of the key keyPath below HKEY_LOCAL_MACHINE, opened through
   QuinCDIO_RegOpenKeyEx with KEY_ALL_ACCESS.  Values of type REG_SZ,
   REG_EXPAND_SZ and REG_MULTI_SZ are read as lists; they write REG_MULTI_SZ
   only.  On return the thread's last error is ERROR_SUCCESS or the code that
   names the cause: the failing registry call's own code (the open included),
   ERROR_NOT_ENOUGH_MEMORY, ERROR_INVALID_DATATYPE for a value of a foreign
   type, ERROR_INVALID_PARAMETER for a name that FilterListAdd cannot list
   (NULL or empty) or a NULL name given to FilterListRemove. */

/* A new list buffer that the caller frees, or NULL (ERROR_FILE_NOT_FOUND when
   the value is missing, ERROR_INVALID_DATATYPE when it is not a string type). */
char *FilterListRead(const char *keyPath, int upper);
/* 1 when the value was rewritten as a REG_MULTI_SZ of exactly its list size,
   or deleted (an empty list, or a value of a foreign type).  0 when nothing
   changed: last error ERROR_SUCCESS when the value already was canonical,
   ERROR_FILE_NOT_FOUND when there is none, else the failure's code. */
int FilterListClean(const char *keyPath, int upper);
/* 1 when the list was written with name once at the front (atEnd == 0) or
   end; a missing value or one of a foreign type becomes a one-entry list. */
int FilterListAdd(const char *keyPath, const char *name, int upper, int atEnd);
/* 1 when name is no longer listed afterwards (also when there is no value);
   0 for a value of a foreign type, which stays as it is, and on failure. */
int FilterListRemove(const char *keyPath, const char *name, int upper);

#ifdef __cplusplus
}
#endif

#endif
