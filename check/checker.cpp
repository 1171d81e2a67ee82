/* QuinCheck: one run from the system gate to the restart notice, and the drivers named on the command line. */
#include <windows.h>
#include <stdarg.h>
#include "checker.h"
#include "filterlist.h"
#include "quincdio.h"

#define CHECK_CAPTION "QuinCheck"
#define CHECK_EVENT "QuinCheck"

#define EXIT_DONE 0
#define EXIT_NO_DEVICE_LAYER 20
#define EXIT_NO_EVENT 30

/* wsprintfA stops at 1024 characters but does not promise a NUL when it
   has to cut the text short, so the last byte is kept for one. */
#define MESSAGE_CHARS 1024
static char MessageText[MESSAGE_CHARS + 1];

static SC_HANDLE ServiceManager;

const char ClassFilterKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E965-E325-11CE-BFC1-08002BE10318}";

SC_HANDLE CheckerServiceManager(void)
{
    return ServiceManager;
}

int CheckerMessage(UINT flags, const char *format, ...)
{
    va_list args;

    va_start(args, format);
    wvsprintfA(MessageText, format, args);
    va_end(args);
    MessageText[MESSAGE_CHARS] = '\0';
    return MessageBoxA(NULL, MessageText, CHECK_CAPTION, flags);
}

static int IsSupportedWindows(void)
{
    OSVERSIONINFOA info;

    ZeroMemory(&info, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(info);
    if (!GetVersionExA(&info))
        return 0;
    return info.dwPlatformId == VER_PLATFORM_WIN32_NT && info.dwMajorVersion > 4;
}

static int CleanAllFilterLists(void)
{
    int lower = FilterListClean(ClassFilterKey, 0);
    int upper = FilterListClean(ClassFilterKey, 1);

    return lower || upper;
}

static int IsDriverListed(const char *name, int upper)
{
    char *list = FilterListRead(ClassFilterKey, upper);
    const char *entry;
    int listed = 0;

    if (!list)
        return 0;
    for (entry = list; *entry; entry += lstrlenA(entry) + 1) {
        if (lstrcmpiA(entry, name) == 0) {
            listed = 1;
            break;
        }
    }
    HeapFree(GetProcessHeap(), 0, list);
    return listed;
}

static void OfferMissingDriver(const char *name, int upper)
{
    DWORD error;

    if (!IsDriverInstalled(name)) {
        CheckerMessage(MB_ICONWARNING,
                       "QuinCheck has detected, that the Filter Driver %s is not installed!\n\n"
                       "This driver is required for proper operation of software made by Quintessa.\n"
                       "You will need to reinstall the application, which requires the driver %s!",
                       name, name);
        return;
    }
    if (IsDriverListed(name, upper))
        return;
    if (CheckerMessage(MB_ICONQUESTION | MB_YESNO,
                       "QuinCheck has detected, that the Filter Driver %s is not installed!\n\n"
                       "This driver is required for proper operation of software made by Quintessa.\n"
                       "Install missing driver %s?",
                       name, name) != IDYES)
        return;
    if (FilterListAdd(ClassFilterKey, name, upper, 0)) {
        CheckerMessage(MB_ICONWARNING, "You need to restart your computer for the changes to take effect.");
        return;
    }
    /* The list operations leave the failed registry call's code behind:
       take it before the message box can overwrite it. */
    error = GetLastError();
    CheckerMessage(MB_ICONERROR, "Error %u:\n\nFailed to add driver %s!", error, name);
}

/* Pieces are separated by spaces only; a tab or a quote is part of its piece. */
static void AddDriversFromCommandLine(const char *commandLine)
{
    int length = lstrlenA(commandLine);
    char *pieces;
    char *piece;
    int upper = 0;
    int i;

    pieces = (char *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, (SIZE_T)length + 2);
    if (!pieces)
        return;
    CopyMemory(pieces, commandLine, length);
    for (i = 0; i < length; i++) {
        if (pieces[i] == ' ')
            pieces[i] = '\0';
    }
    for (piece = pieces; piece < pieces + length; piece += lstrlenA(piece) + 1) {
        if (!*piece)
            continue;
        if (lstrcmpiA(piece, "/L") == 0)
            upper = 0;
        else if (lstrcmpiA(piece, "/U") == 0)
            upper = 1;
        else
            OfferMissingDriver(piece, upper);
    }
    HeapFree(GetProcessHeap(), 0, pieces);
}

/* Only the low byte of the layer's answer is meaningful. */
static int TargetsFound(void)
{
    unsigned char scratch = 0;

    return (QuinCDIO_EnumTargets(1, &scratch) & 0xFF) != 0;
}

static int VerifyAllFilterLists(void)
{
    int lower = VerifyFilterList(0);
    int upper = VerifyFilterList(1);

    return lower || upper;
}

static void ShowRestartNotice(void)
{
    CheckerMessage(MB_ICONWARNING,
                   "Your Computer needs to be restarted for the changes to take effect!\n\n"
                   "Until your computer is restarted, your CD-ROM drives may be invisible!");
}

int CheckerRun(const char *commandLine)
{
    HANDLE event;
    int cleaned = 0;

    if (!IsSupportedWindows())
        return EXIT_DONE;
    if (QuinCDIO_InitScsi(7) != 0)
        return EXIT_NO_DEVICE_LAYER;

    ServiceManager = OpenSCManagerA(NULL, NULL, GENERIC_READ);
    if (!ServiceManager) {
        QuinCDIO_DeInitScsi();
        CheckerMessage(MB_ICONERROR, "Can't open Windows Service manager!\nQuinCheck will stop!");
        return EXIT_NO_DEVICE_LAYER;
    }

    /* Auto-reset: each SetEvent at the end of a run lets exactly one waiting
       copy go on, so copies started together run one after another. */
    event = CreateEventA(NULL, FALSE, FALSE, CHECK_EVENT);
    if (!event) {
        CloseServiceHandle(ServiceManager);
        ServiceManager = NULL;
        QuinCDIO_DeInitScsi();
        return EXIT_NO_EVENT;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS)
        WaitForSingleObject(event, INFINITE);

    if (CleanAllFilterLists()) {
        CheckerMessage(MB_ICONINFORMATION,
                       "QuinCheck has performed a sanity check on the Filter drivers of the CD-ROM class "
                       "in your registry and has corrected invalid entries.");
        cleaned = 1;
    }
    if (commandLine && *commandLine)
        AddDriversFromCommandLine(commandLine);
    if (!TargetsFound()) {
        if (VerifyAllFilterLists() || cleaned)
            ShowRestartNotice();
    }

    SetEvent(event);
    CloseHandle(event);
    CloseServiceHandle(ServiceManager);
    ServiceManager = NULL;
    QuinCDIO_DeInitScsi();
    return EXIT_DONE;
}

/* Windows programs find the end of their own name this way: a quoted name
   ends at its closing quote (or with the line, when none follows), an
   unquoted one at the first space or tab.  Bytes are looked at unsigned, so
   a national character in a folder name is part of the name, never a blank. */
const char *SkipProgramName(const char *commandLine)
{
    const unsigned char *p = (const unsigned char *)commandLine;

    if (!p)
        return "";
    if (*p == '"') {
        p++;
        while (*p && *p != '"')
            p++;
        if (*p == '"')
            p++;
    } else {
        while (*p && *p != ' ' && *p != '\t')
            p++;
    }
    while (*p == ' ' || *p == '\t')
        p++;
    return (const char *)p;
}

/* The C runtime's start-up code hands WinMain a command line whose program
   name it skipped comparing signed characters: every byte from 0x80 up
   counts as a blank there, so an unquoted path through a folder with a
   national character, or a first argument beginning with one, comes out
   cut.  The line is taken from the system instead. */
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show)
{
    (void)instance;
    (void)previous;
    (void)commandLine;
    (void)show;
    return CheckerRun(SkipProgramName(GetCommandLineA()));
}
