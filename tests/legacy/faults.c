/* Small programs that each break one legacy-Windows rule on purpose, for the audit's own test. */
#include <windows.h>
#include <shlwapi.h>

#ifdef FAULT_ORDINAL
/* Bound by number through an import library made from a .def file. */
int WINAPI OrdinalOnly(void);
#endif

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show)
{
    (void)instance;
    (void)previous;
    (void)show;
#if defined(FAULT_NEWER)
    /* Windows 98 and NT 4.0: a Windows 95 target must not import it. */
    return IsDebuggerPresent();
#elif defined(FAULT_NT_ONLY)
    /* Fine for a target of Windows 2000 alone. */
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, GENERIC_READ);
    if (manager)
        CloseServiceHandle(manager);
    return IsDebuggerPresent();
#elif defined(FAULT_UNLISTED)
    return (int)GetTickCount64();
#elif defined(FAULT_FOREIGN_DLL)
    return PathFileExistsA(commandLine);
#elif defined(FAULT_ORDINAL)
    return OrdinalOnly();
#else
    (void)commandLine;
    return 0;
#endif
}
