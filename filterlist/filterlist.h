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
/* Removes every entry equal to name (case-insensitive, DBCS-aware) in place;
   returns how many went and stores the new list size in *size. */
LONG MultiSzRemoveAll(const char *name, char *list, DWORD *size);
/* Put name once at the front / at the end.  On success *list is a new buffer
   and the old one is freed; FALSE when memory ran out (the old buffer stays,
   without name). */
BOOL MultiSzInsertFront(const char *name, char **list);
BOOL MultiSzAppend(const char *name, char **list);

/* The operations below work on the value "UpperFilters" (upper != 0) or
   "LowerFilters" of the key keyPath below HKEY_LOCAL_MACHINE.  Each failure
   leaves an error code that names its cause as the thread's last error. */

/* A new list buffer that the caller frees, or NULL. */
char *FilterListRead(const char *keyPath, int upper);
/* 1 when the value was rewritten in canonical form or deleted. */
int FilterListClean(const char *keyPath, int upper);
/* 1 when the list was written with name once at the front (atEnd == 0) or end. */
int FilterListAdd(const char *keyPath, const char *name, int upper, int atEnd);
/* 1 when name is no longer listed afterwards. */
int FilterListRemove(const char *keyPath, const char *name, int upper);

#ifdef __cplusplus
}
#endif

#endif
