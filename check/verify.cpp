/* QuinCheck: whether a filter driver is properly installed, and the walk that offers to remove those that are not. */
#include <windows.h>
#include "checker.h"
#include "filterlist.h"

static const char SystemRootPrefix[] = "\\SystemRoot\\";
static const char DosDevicesPrefix[] = "\\??\\";

static int HasPrefix(const char *text, const char *prefix)
{
    int length = lstrlenA(prefix);

    if (lstrlenA(text) < length)
        return 0;
    return CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, text, length, prefix, length) == CSTR_EQUAL;
}

/* Joins up to three parts into a MAX_PATH buffer; 0 when they do not fit. */
static int JoinPath(char *path, const char *first, const char *second, const char *third)
{
    if (lstrlenA(first) + lstrlenA(second) + lstrlenA(third) >= MAX_PATH)
        return 0;
    lstrcpyA(path, first);
    lstrcatA(path, second);
    lstrcatA(path, third);
    return 1;
}

static int FileFound(const char *path)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);

    if (search == INVALID_HANDLE_VALUE)
        return 0;
    FindClose(search);
    return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

/* Service configurations often hold the kernel's forms of a path:
   "\SystemRoot\..." below the Windows directory and "\??\C:\..." for a
   DOS path.  Both name a file the system will load, so they are turned
   into ordinary paths before the search. */
static int ResolveImageName(char *imageName, const char *imagePath)
{
    char windows[MAX_PATH];
    UINT length;

    if (HasPrefix(imagePath, DosDevicesPrefix))
        imagePath += lstrlenA(DosDevicesPrefix);
    if (!HasPrefix(imagePath, SystemRootPrefix))
        return JoinPath(imageName, imagePath, "", "");
    length = GetWindowsDirectoryA(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 0;
    return JoinPath(imageName, windows, "\\", imagePath + lstrlenA(SystemRootPrefix));
}

/* A name or path that does not fit MAX_PATH counts as not found. */
static int FindDriverFile(const char *imagePath, const char *name)
{
    char imageName[MAX_PATH];
    char directory[MAX_PATH];
    char candidate[MAX_PATH];
    UINT length;

    if (imagePath && *imagePath) {
        if (!ResolveImageName(imageName, imagePath))
            return 0;
    } else if (!JoinPath(imageName, name, ".sys", "")) {
        return 0;
    }

    if (FileFound(imageName))
        return 1;
    length = GetWindowsDirectoryA(directory, MAX_PATH);
    if (length != 0 && length < MAX_PATH && JoinPath(candidate, directory, "\\", imageName) &&
        FileFound(candidate))
        return 1;
    length = GetSystemDirectoryA(directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 0;
    if (JoinPath(candidate, directory, "\\", imageName) && FileFound(candidate))
        return 1;
    return JoinPath(candidate, directory, "\\drivers\\", imageName) && FileFound(candidate);
}

/* Boot, system, automatic and on-demand start all pass. */
static int CheckDriverConfig(const QUERY_SERVICE_CONFIGA *config, const char *name)
{
    if (config->dwServiceType != SERVICE_KERNEL_DRIVER || config->dwStartType == SERVICE_DISABLED)
        return 0;
    return FindDriverFile(config->lpBinaryPathName, name);
}

int IsDriverInstalled(const char *name)
{
    SC_HANDLE service;
    QUERY_SERVICE_CONFIGA *config;
    DWORD needed = 0;
    int installed = 0;

    service = OpenServiceA(CheckerServiceManager(), name, SERVICE_QUERY_CONFIG);
    if (!service)
        return 0;
    if (!QueryServiceConfigA(service, NULL, 0, &needed) && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        config = (QUERY_SERVICE_CONFIGA *)HeapAlloc(GetProcessHeap(), 0, needed);
        if (config) {
            if (QueryServiceConfigA(service, config, needed, &needed))
                installed = CheckDriverConfig(config, name);
            HeapFree(GetProcessHeap(), 0, config);
        }
    }
    CloseServiceHandle(service);
    return installed;
}

/* Putting the name back at the end first means a name listed several
   times ends up once, where it was last listed. */
static int VerifyListedDriver(const char *name, int upper)
{
    DWORD error;

    FilterListAdd(ClassFilterKey, name, upper, 1);
    if (IsDriverInstalled(name))
        return 0;
    if (CheckerMessage(MB_ICONWARNING | MB_YESNO,
                       "QuinCheck has detected a corrupt Filter Driver %s!\n\n"
                       "This driver will prevent your CD-ROMs to work properly.\n"
                       "Remove corrupt driver from Registry?",
                       name) != IDYES)
        return 0;
    if (FilterListRemove(ClassFilterKey, name, upper)) {
        CheckerMessage(MB_ICONINFORMATION,
                       "The Filter Driver %s has been removed!\n\n"
                       "You may need to reinstall the application, which requires this driver.",
                       name);
        return 1;
    }
    error = GetLastError();
    CheckerMessage(MB_ICONERROR, "Error %u:\n\nFailed to remove driver %s!", error, name);
    return 0;
}

/* Walks the copy read at the start, not the value the visits rewrite. */
int VerifyFilterList(int upper)
{
    char *list = FilterListRead(ClassFilterKey, upper);
    const char *entry;
    int removed = 0;

    if (!list)
        return 0;
    for (entry = list; *entry; entry += lstrlenA(entry) + 1) {
        if (VerifyListedDriver(entry, upper))
            removed = 1;
    }
    HeapFree(GetProcessHeap(), 0, list);
    return removed;
}
