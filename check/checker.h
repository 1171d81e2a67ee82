/* QuinCheck: what the run module and the verification module share. */
#ifndef CHECKER_H
#define CHECKER_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The CD-ROM device class below HKEY_LOCAL_MACHINE; its UpperFilters and
   LowerFilters are the lists the checker looks after. */
extern const char ClassFilterKey[];

/* checker.cpp: the run, its command line and the state of one run. */
int CheckerRun(const char *commandLine);
/* The text behind the program name at the start of a full command line
   (as GetCommandLineA gives it) and behind the blanks that follow it. */
const char *SkipProgramName(const char *commandLine);
/* The service control manager opened for this run. */
SC_HANDLE CheckerServiceManager(void);
/* Formats a message like wsprintfA and shows it captioned "QuinCheck"
   without an owner; returns the button pressed. */
int CheckerMessage(UINT flags, const char *format, ...);

/* verify.cpp: installation test and list walk. */
int IsDriverInstalled(const char *name);
int VerifyFilterList(int upper);

#ifdef __cplusplus
}
#endif

#endif
