/* OrvandTray: language texts for the menu, the caption, the questions and the drive dialog. */
#include <windows.h>
#include "tray.h"

int LanguageCodePage = -1;

static const char EmptyText[] = "";

/* Until language files are read every text is the empty text and the menu keeps the
   resource's English labels. */
const char *GetText(int number)
{
    (void)number;
    return EmptyText;
}

int ReadLanguageFile(const char *fileName)
{
    (void)fileName;
    LanguageCodePage = -1;
    return 0;
}

int LoadLanguageTexts(const char *folder, const char *localeName)
{
    (void)folder;
    (void)localeName;
    return 0;
}

void ReadLocaleName(void)
{
}

void RelabelMenu(HWND window, int switchAvailable)
{
    (void)window;
    (void)switchAvailable;
}

HFONT CreateLanguageFont(HWND dialog, int codePage)
{
    (void)dialog;
    (void)codePage;
    return NULL;
}

void FreeTexts(void)
{
}

const char *WebAddress(void)
{
    return NULL;
}
