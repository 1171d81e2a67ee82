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
BOOL ReadFileVersion(const char *path, TrayFileVersion *version);
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
HFONT CreateLanguageFont(HWND dialog, int codePage);
void FreeTexts(void);
/* What the website command opens, or NULL before a relabel set one. */
const char *WebAddress(void);

/* ---- drivedialog.cpp: the virtual drive dialog ------------------------------------------ */

/* Runs dialog IDD_VIRTUALDRIVES modally, owned by `owner`, and returns when it closes. */
void ShowVirtualDriveDialog(HWND owner);
/* Its dialog procedure; the dialog ends with the result 2 on every path.  The one value of
   another block that it writes is SheepIconsOn: from the check box on OK, just before
   StoreSheepIconsOption, and 0 at start when the shell has no per-drive icons. */
INT_PTR CALLBACK VirtualDriveDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

/* ---- driveicons.cpp: Explorer icons of virtual drives ----------------------------------- */

extern DWORD SheepIconsOn;

void ReadSheepIconsOption(void);
void StoreSheepIconsOption(void);
void SetDriveIcons(int driveIndex);
void ClearDriveIcons(int driveIndex);
void ApplyDriveIconsAll(void);
void ClearDriveIconsAll(void);
LONG DeleteKeyTree(HKEY key, const char *subKey);

/* ---- repair.cpp: registry entries of the virtual drives' devices ------------------------ */

void RepairVirtualDriveDevices(void);

#ifdef __cplusplus
}
#endif

#endif
