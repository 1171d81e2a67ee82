/* OrvandTray: what the tray's modules share.  Each block names the module that owns its values;
   only that module writes them, the others read them or call its functions. */
#ifndef TRAY_H
#define TRAY_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Text buffers for paths and key names: 259 characters and the NUL. */
#define TRAY_PATH_CHARS MAX_PATH

/* ---- main.cpp: start-up and message loop ------------------------------------------------ */

#define TRAY_EXIT_DONE 0
#define TRAY_EXIT_NO_DEVICE_LAYER 20

/* The caption holds 79 characters and its NUL. */
#define TRAY_CAPTION_CHARS 80

typedef struct TrayFileVersion {
    WORD major;
    WORD minor;
    WORD build;
    WORD revision;
} TrayFileVersion;

/* Set once by start-up and read for the whole run. */
extern HINSTANCE TrayInstance;
extern char ModulePath[TRAY_PATH_CHARS];
extern char ProgramFolder[TRAY_PATH_CHARS];  /* ends in a backslash */
extern TrayFileVersion FileVersion;
extern int OsVersionCode;                    /* QuinCDIO_GetOSVersion, 0 never stays */
extern BOOL ShellIconSupport;                /* shell32.dll newer than 4.71 */
extern UINT ShowIconMessage;                 /* "OrvandTrayShowIcon" */
extern UINT EnableMessage;                   /* "OrvandTrayEnable" */
/* Caption of the tray's boxes and the icon's tooltip; rebuilt by SetTrayCaption. */
extern char TrayCaption[TRAY_CAPTION_CHARS];

/* The whole run of the program; returns its exit code. */
int TrayMain(HINSTANCE instance);
/* Fills ModulePath, ProgramFolder, FileVersion, TrayCaption, ShellIconSupport and the icon
   option, in that order.  FALSE when the path or the version cannot be had. */
BOOL ReadStartupValues(void);
/* A DLL's DllGetVersion as major << 16 | minor, or 0. */
DWORD ProbeDllVersion(const char *dllName);
/* The shell named is newer than 4.71, so Explorer takes per-drive icons. */
BOOL ShellHasDriveIcons(const char *shellDll);
BOOL ReadFileVersion(const char *path, TrayFileVersion *version);
/* ProgramFolder from ModulePath: cut after the last backslash, which stays. */
void MakeProgramFolder(void);
BOOL RegisterTrayClass(HINSTANCE instance);
BOOL CreateTrayWindow(HINSTANCE instance);
/* TrayCaption = prefix, major "." minor of FileVersion; a long prefix is cut so the version
   always fits. */
void SetTrayCaption(const char *prefix);
/* Copies at most size - 1 bytes of text and a NUL, never splitting a double-byte character of
   the system's code page. */
void CopyTextCut(char *dest, const char *src, int size);

/* ---- window.cpp: the hidden window, its icon and menu ----------------------------------- */

#define TRAY_CLASS_NAME "MainWClass"
#define TRAY_WINDOW_TITLE "QuinTrayWindow"
/* The icon's callback message. */
#define TrayCallbackMessage (WM_APP + 100)

LRESULT CALLBACK TrayWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL NotifyTrayIcon(HWND window, DWORD operation, HICON icon);
HICON LoadStatusIcon(HINSTANCE instance, WORD status);
void ShowTrayMenu(HWND window, int x, int y);
void UpdateMenuChecks(HWND window, WORD status);
/* The tray menu: the first popup of the window's menu, or NULL. */
HMENU TrayPopupMenu(HWND window);
BOOL AutostartIsSet(void);
BOOL AutostartAdd(void);
BOOL AutostartRemove(void);

/* ---- masking.cpp: the media-masking switch ---------------------------------------------- */

#define MASKING_QUERY 1
#define MASKING_APPLY 2

extern WORD TrayStatus;      /* bit 0: masking on; the other bits travel unchanged */
extern BOOL MaskingChosen;   /* bit 0 after the tray's own last successful apply */
extern LONG DisableCount;    /* disable requests not yet answered, never below 0 */

void LoadTrayStatus(WORD *status);
int StoreTrayStatus(WORD *status);
int MaskingQuery(WORD *status);
int MaskingApply(WORD *status);
void ApplyMaskingResult(HWND window, int result);
void ReapplyStoredMasking(HWND window);
void RefreshMaskingFromLayer(HWND window);
/* MaskingChosen = bit 0 of TrayStatus, after the apply at window creation. */
void TakeMaskingChoice(void);
/* The menu command; itemState is GetMenuState of the item before the command. */
void ToggleMasking(HWND window, UINT itemState);
void OnShowIconMessage(HWND window);
void OnEnableMessage(HWND window, WPARAM enable);

/* ---- texts.cpp: language texts ---------------------------------------------------------- */

#define TEXT_COUNT 18

/* Code page field of the last language file read whole, or -1. */
extern int LanguageCodePage;

/* Text 1 to 18, or the empty text; never NULL. */
const char *GetText(int number);
int ReadLanguageFile(const char *fileName);
int LoadLanguageTexts(const char *folder, const char *localeName);
void ReadLocaleName(void);
void RelabelMenu(HWND window, int switchAvailable);
/* A font like the dialog's in the language's character set, set on the dialog and its
   children; NULL for a negative code page or when any step fails.  The character set is the
   low byte of codePage, or, when the last file read whole holds UTF-16 texts, the one Windows
   pairs with that code page.  The caller deletes the font. */
HFONT CreateLanguageFont(HWND dialog, int codePage);
/* Releases every text and the web address. */
void FreeTexts(void);
/* What the website command opens: text 10 as the last relabel found it, held as a copy; NULL
   before a relabel set one and after FreeTexts. */
const char *WebAddress(void);

/* ---- drivedialog.cpp: the virtual drive dialog ------------------------------------------ */

/* Runs dialog IDD_VIRTUALDRIVES modally, owned by `owner`, and returns when it closes. */
void ShowVirtualDriveDialog(HWND owner);
/* Its dialog procedure; the dialog ends with the result 2 on every path.  The one value of
   another block that it writes is SheepIconsOn: from the check box on OK, just before
   StoreSheepIconsOption, and 0 at start when the shell has no per-drive icons. */
INT_PTR CALLBACK VirtualDriveDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

/* ---- driveicons.cpp: Explorer icons of virtual drives ----------------------------------- */

extern DWORD SheepIconsOn;  /* "VirtualSheep"; 0 while ShellIconSupport is false */

void ReadSheepIconsOption(void);
/* Stores the option, then applies or clears the entries of all letters. */
void StoreSheepIconsOption(void);
/* The marked entries of one letter (0 is A:) in both places.  A place whose letter key exists
   without a non-zero marker belongs to another program and is left alone; an icon path that
   does not fit leaves out only the icon entry.  Indexes outside 0 to 25 do nothing. */
void SetDriveIcons(int driveIndex);
/* Deletes a letter's key in each place where its marker reads non-zero. */
void ClearDriveIcons(int driveIndex);
/* C: to Z: entries for the virtual drives, cleared for the other letters. */
void ApplyDriveIconsAll(void);
/* A: to Z: cleared. */
void ClearDriveIconsAll(void);
/* Deletes subKey of key with all its subkeys, children first; 0 when subKey itself went, else
   the registry's code.  An empty or NULL subKey gives ERROR_INVALID_PARAMETER. */
LONG DeleteKeyTree(HKEY key, const char *subKey);

/* ---- repair.cpp: registry entries of the virtual drives' devices ------------------------ */

/* QueryDosDeviceA: with no name the list of all DOS device names, else a name's targets;
   the characters stored, NULs included, or 0. */
typedef DWORD (WINAPI *QueryDosDeviceFunction)(LPCSTR deviceName, LPSTR targets, DWORD maxChars);

/* By OsVersionCode: below 4 the Windows 9x walk, 4 nothing, above 4 the NT one. */
void RepairVirtualDriveDevices(void);
/* "redbook" last in the UpperFilters of every virtual drive device, with QueryDosDeviceA
   looked up in KERNEL32. */
void RepairNtDevices(void);
/* The same walk with the given function. */
void RepairNtDeviceList(QueryDosDeviceFunction query);
/* "SYSTEM\CurrentControlSet\Enum\" and the DOS device name up to its third '#', the first
   two as '\'.  FALSE, with an empty path, when that does not fit TRAY_PATH_CHARS. */
BOOL BuildDeviceEnumKeyPath(const char *deviceName, char *path);
/* Bit 0 of "DigitalAudioPlay" in the class key of every virtual CD-ROM device. */
void RepairWin9xDevices(void);

#ifdef __cplusplus
}
#endif

#endif
