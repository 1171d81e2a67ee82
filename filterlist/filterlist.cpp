/* Filter-driver lists: multi-string buffers and the UpperFilters/LowerFilters registry values. */
#include "filterlist.h"

#include <mbctype.h>
#include <mbstring.h>
#include <string.h>

#include "quincdio.h"

/* Values this library accepts as lists; it writes only REG_MULTI_SZ. */
static BOOL IsListType(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

static const char *ListValueName(int upper)
{
    return upper ? "UpperFilters" : "LowerFilters";
}

static char *AllocZeroed(DWORD size)
{
    return (char *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
}

static void FreeBuffer(char *buffer)
{
    if (buffer)
        HeapFree(GetProcessHeap(), 0, buffer);
}

/* TRUE when the last of the first `length` bytes of s is a lead byte of the C
   runtime's multibyte code page with no trail byte behind it. */
static BOOL EndsInLoneLeadByte(const unsigned char *s, size_t length)
{
    size_t i = 0;
    while (i < length) {
        if (_ismbblead(s[i])) {
            if (i + 1 == length)
                return TRUE;
            i += 2;
        } else {
            i++;
        }
    }
    return FALSE;
}

/* Case-insensitive, with a double-byte character taken whole, so that a trail
   byte that looks like an ASCII letter is never case-folded on its own. */
static BOOL EntryEquals(const char *entry, const char *name)
{
    const unsigned char *a = (const unsigned char *)entry;
    const unsigned char *b = (const unsigned char *)name;
    size_t length = strlen(entry);
    BOOL loneA, loneB;

    /* Case folding keeps every character's byte count, so equal entries are
       equally long. */
    if (strlen(name) != length)
        return FALSE;
    /* A lead byte right before the NUL has no trail byte.  Some C runtimes
       then take the NUL as the trail byte and read on past the string, so
       such a last byte is compared as it is, and only the whole characters
       before it by the runtime. */
    loneA = EndsInLoneLeadByte(a, length);
    loneB = EndsInLoneLeadByte(b, length);
    if (loneA || loneB)
        return loneA && loneB && a[length - 1] == b[length - 1] &&
               (length == 1 || _mbsnbicmp(a, b, length - 1) == 0);
    return _mbsicmp(a, b) == 0;
}

DWORD MultiSzSize(const char *list)
{
    const char *p = list;
    while (*p)
        p += strlen(p) + 1;
    return (DWORD)(p - list) + 1;
}

LONG MultiSzRemoveAll(const char *name, char *list, DWORD *size)
{
    DWORD total = MultiSzSize(list);
    LONG count = 0;
    char *entry = list;

    while (*entry) {
        DWORD entrySize = (DWORD)strlen(entry) + 1;
        if (EntryEquals(entry, name)) {
            /* Everything behind the entry, the closing NUL included, moves down. */
            DWORD behind = total - (DWORD)(entry - list) - entrySize;
            MoveMemory(entry, entry + entrySize, behind);
            total -= entrySize;
            count++;
        } else {
            entry += entrySize;
        }
    }
    if (size)
        *size = total;
    return count;
}

/* Puts name once at the front or the end of the list: every occurrence leaves first, then a
   zeroed buffer with room for the list and the name takes both.  FALSE with the cause as last
   error; the old buffer stays then. */
static BOOL InsertName(const char *name, char **list, BOOL atEnd)
{
    DWORD listSize, nameSize;
    char *grown;

    /* An empty name would read as the end of the list and hide every entry. */
    if (!name || !*name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    MultiSzRemoveAll(name, *list, &listSize);
    nameSize = (DWORD)strlen(name) + 1;
    grown = AllocZeroed(listSize + nameSize);
    if (!grown) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    if (atEnd) {
        /* The name goes over the list's closing NUL; the zeroed last byte closes the longer
           list. */
        CopyMemory(grown, *list, listSize);
        CopyMemory(grown + listSize - 1, name, nameSize);
    } else {
        CopyMemory(grown, name, nameSize);
        CopyMemory(grown + nameSize, *list, listSize);
    }
    FreeBuffer(*list);
    *list = grown;
    return TRUE;
}

BOOL MultiSzInsertFront(const char *name, char **list)
{
    return InsertName(name, list, FALSE);
}

BOOL MultiSzAppend(const char *name, char **list)
{
    return InsertName(name, list, TRUE);
}

/* Filter-list keys are opened through the CD I/O layer, as the suite does. */
static LONG OpenListKey(const char *keyPath, HKEY *key)
{
    return QuinCDIO_RegOpenKeyEx(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_ALL_ACCESS, key);
}

/* Reads the value whose data size `*size` was just queried into a new buffer
   two bytes longer and zero-filled, so that data lacking the NUL of its last
   string or the list's closing NUL still forms a closed list.  The buffer is
   declared to be exactly the data size: the registry then has no room to add
   a NUL of its own, and a value that grew meanwhile fails with
   ERROR_MORE_DATA.  `*size` becomes the size actually read. */
static LONG ReadListData(HKEY key, const char *valueName, DWORD *size, char **list)
{
    char *buffer;
    LONG rc;

    *list = NULL;
    if (*size > 0x7FFFFFF0)
        return ERROR_NOT_ENOUGH_MEMORY;
    buffer = AllocZeroed(*size + 2);
    if (!buffer)
        return ERROR_NOT_ENOUGH_MEMORY;
    rc = RegQueryValueExA(key, valueName, NULL, NULL, (BYTE *)buffer, size);
    if (rc != ERROR_SUCCESS) {
        FreeBuffer(buffer);
        return rc;
    }
    *list = buffer;
    return ERROR_SUCCESS;
}

static LONG WriteList(HKEY key, const char *valueName, const char *list, DWORD size)
{
    return RegSetValueExA(key, valueName, 0, REG_MULTI_SZ, (const BYTE *)list, size);
}

char *FilterListRead(const char *keyPath, int upper)
{
    const char *valueName = ListValueName(upper);
    HKEY key;
    DWORD type = 0, size = 0;
    char *list = NULL;
    LONG rc;

    rc = OpenListKey(keyPath, &key);
    if (rc != ERROR_SUCCESS) {
        SetLastError(rc);
        return NULL;
    }
    rc = RegQueryValueExA(key, valueName, NULL, &type, NULL, &size);
    if (rc == ERROR_SUCCESS && !IsListType(type))
        rc = ERROR_INVALID_DATATYPE;
    if (rc == ERROR_SUCCESS)
        rc = ReadListData(key, valueName, &size, &list);
    RegCloseKey(key);
    SetLastError(rc);
    return list;
}

int FilterListClean(const char *keyPath, int upper)
{
    const char *valueName = ListValueName(upper);
    HKEY key;
    DWORD type = 0, size = 0, listSize;
    char *list = NULL;
    int changed = 0;
    LONG rc;

    rc = OpenListKey(keyPath, &key);
    if (rc != ERROR_SUCCESS) {
        SetLastError(rc);
        return 0;
    }
    /* A missing value is left missing: the query's ERROR_FILE_NOT_FOUND stays. */
    rc = RegQueryValueExA(key, valueName, NULL, &type, NULL, &size);
    if (rc == ERROR_SUCCESS && !IsListType(type)) {
        rc = RegDeleteValueA(key, valueName);
        changed = rc == ERROR_SUCCESS;
    } else if (rc == ERROR_SUCCESS) {
        rc = ReadListData(key, valueName, &size, &list);
        if (rc == ERROR_SUCCESS) {
            listSize = MultiSzSize(list);
            /* A value that already holds exactly its list keeps even the type
               REG_SZ or REG_EXPAND_SZ. */
            if (listSize != size) {
                if (listSize < 3)
                    rc = RegDeleteValueA(key, valueName);
                else
                    rc = WriteList(key, valueName, list, listSize);
                changed = rc == ERROR_SUCCESS;
            }
        }
    }
    RegCloseKey(key);
    FreeBuffer(list);
    SetLastError(rc);
    return changed;
}

int FilterListAdd(const char *keyPath, const char *name, int upper, int atEnd)
{
    const char *valueName = ListValueName(upper);
    HKEY key;
    DWORD type = 0, size = 0;
    char *list = NULL;
    LONG rc;

    if (!name || !*name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    rc = OpenListKey(keyPath, &key);
    if (rc != ERROR_SUCCESS) {
        SetLastError(rc);
        return 0;
    }
    rc = RegQueryValueExA(key, valueName, NULL, &type, NULL, &size);
    if (rc == ERROR_SUCCESS && IsListType(type)) {
        rc = ReadListData(key, valueName, &size, &list);
    } else {
        /* No value, or one of a foreign type that the new list replaces: the
           name goes into an empty list. */
        list = AllocZeroed(1);
        rc = list ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
    }
    if (rc == ERROR_SUCCESS) {
        if (atEnd ? MultiSzAppend(name, &list) : MultiSzInsertFront(name, &list))
            rc = WriteList(key, valueName, list, MultiSzSize(list));
        else
            rc = ERROR_NOT_ENOUGH_MEMORY;
    }
    RegCloseKey(key);
    FreeBuffer(list);
    SetLastError(rc);
    return rc == ERROR_SUCCESS;
}

int FilterListRemove(const char *keyPath, const char *name, int upper)
{
    const char *valueName = ListValueName(upper);
    HKEY key;
    DWORD type = 0, size = 0, listSize;
    char *list = NULL;
    LONG rc;

    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    rc = OpenListKey(keyPath, &key);
    if (rc != ERROR_SUCCESS) {
        SetLastError(rc);
        return 0;
    }
    rc = RegQueryValueExA(key, valueName, NULL, &type, NULL, &size);
    if (rc == ERROR_FILE_NOT_FOUND) {
        /* No value: the name is not listed, which is what the caller wants. */
        rc = ERROR_SUCCESS;
    } else if (rc == ERROR_SUCCESS && !IsListType(type)) {
        rc = ERROR_INVALID_DATATYPE;
    } else if (rc == ERROR_SUCCESS) {
        rc = ReadListData(key, valueName, &size, &list);
        if (rc == ERROR_SUCCESS && MultiSzRemoveAll(name, list, &listSize) > 0) {
            if (listSize < 3)
                rc = RegDeleteValueA(key, valueName);
            else
                rc = WriteList(key, valueName, list, listSize);
        }
    }
    RegCloseKey(key);
    FreeBuffer(list);
    SetLastError(rc);
    return rc == ERROR_SUCCESS;
}
