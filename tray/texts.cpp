/* OrvandTray: language texts for the menu, the caption, the questions and the drive dialog,
   read from the language text files in the Texts folder beside the tray. */
#include <windows.h>
#include <stdio.h>
#include "tray.h"
#include "resource.h"

#define SETTINGS_KEY "SOFTWARE\\Quintessa\\Orvand\\Settings"
#define LOCALE_VALUE "LocaleName"
#define LOCALE_CHARS 20
#define ENGLISH_CODE "en"
#define FILE_NAME_FORMAT "%sTexts\\ORVTray%s.lng"
/* What the format adds to the folder and the code: "Texts\ORVTray" and ".lng". */
#define FILE_NAME_EXTRA_CHARS 17

/* The file: a 40-byte header, then records of a 4-byte head and the text, to the end. */
#define LANGUAGE_MAGIC 0x4835C9B8UL
#define LANGUAGE_VERSION 2
#define HEADER_BYTES 40
#define HEADER_FLAGS 28
#define HEADER_CODE_PAGE 32
#define FLAG_WIDE_TEXTS 0x01
#define RECORD_HEAD_BYTES 4

/* A UTF-16 text up to this size is read into the conversion buffer; a longer one gets a heap
   buffer of its own, so it is converted whole too. */
#define CONVERSION_BYTES 4096
#define CONVERSION_FLAGS (WC_COMPOSITECHECK | WC_DEFAULTCHAR)

/* The MENUITEMINFOA of Windows 95 and NT 4.0 ends before hbmpItem: they refuse the 48-byte
   record of later headers, and later systems take both sizes. */
#define MENUITEMINFO_OLD_SIZE 44

int LanguageCodePage = -1;

/* Slot 0 is never used: the numbers run from 1 to TEXT_COUNT. */
static char *TextTable[TEXT_COUNT + 1];
static const char EmptyText[] = "";
/* Kept between loads: a relabel without any LocaleName value keeps the earlier name. */
static char LocaleName[LOCALE_CHARS];
/* A copy of text 10 as the last relabel found it, so a later failed load that releases text
   10 cannot pull it away from under the website command. */
static char *WebAddressCopy;
/* The file behind LanguageCodePage holds UTF-16 texts: its field is a code page, not a
   character set. */
static BOOL LanguageTextsWide;
static WCHAR ConversionBuffer[CONVERSION_BYTES / sizeof(WCHAR)];

static DWORD LittleEndian32(const BYTE *bytes)
{
    return (DWORD)bytes[0] | ((DWORD)bytes[1] << 8) | ((DWORD)bytes[2] << 16) |
           ((DWORD)bytes[3] << 24);
}

static void FreeBlock(void *block)
{
    if (block)
        HeapFree(GetProcessHeap(), 0, block);
}

static void EmptySlot(int number)
{
    FreeBlock(TextTable[number]);
    TextTable[number] = NULL;
}

const char *GetText(int number)
{
    if (number < 1 || number > TEXT_COUNT || !TextTable[number])
        return EmptyText;
    return TextTable[number];
}

/* A record without a slot: its text is read and dropped, and the records after it count. */
static BOOL SkipText(FILE *file, unsigned length)
{
    unsigned part;

    while (length > 0) {
        part = length < sizeof(ConversionBuffer) ? length : (unsigned)sizeof(ConversionBuffer);
        if (fread(ConversionBuffer, 1, part, file) != part)
            return FALSE;
        length -= part;
    }
    return TRUE;
}

/* The slot is filled only when the whole text is there, so a failed text leaves it empty. */
static BOOL ReadNarrowText(FILE *file, int number, unsigned length)
{
    char *text = (char *)HeapAlloc(GetProcessHeap(), 0, length + 1);

    if (!text)
        return FALSE;
    if (fread(text, 1, length, file) != length) {
        FreeBlock(text);
        return FALSE;
    }
    text[length] = '\0';
    TextTable[number] = text;
    return TRUE;
}

/* Code pages such as UTF-7, the symbol page and the ISO-2022 pages refuse every flag with
   ERROR_INVALID_FLAGS (so does UTF-8 on Windows, not under Wine); the flags change nothing
   for such a text, so it is converted without them instead of being lost. */
static int MeasureWideText(UINT codePage, DWORD *flags, const WCHAR *units, int count)
{
    int needed;

    *flags = CONVERSION_FLAGS;
    needed = WideCharToMultiByte(codePage, *flags, units, count, NULL, 0, NULL, NULL);
    if (needed == 0 && GetLastError() == ERROR_INVALID_FLAGS) {
        *flags = 0;
        needed = WideCharToMultiByte(codePage, 0, units, count, NULL, 0, NULL, NULL);
    }
    return needed;
}

/* FALSE when the file fails; a text that converts to nothing leaves its slot empty and the
   reading goes on. */
static BOOL ReadWideText(FILE *file, int number, unsigned length, UINT codePage)
{
    WCHAR *units = ConversionBuffer;
    int count = (int)(length / sizeof(WCHAR));  /* an odd last byte is read and ignored */
    DWORD flags;
    int needed;
    char *text;
    BOOL ok = FALSE;

    if (length > sizeof(ConversionBuffer)) {
        units = (WCHAR *)HeapAlloc(GetProcessHeap(), 0, length);
        if (!units)
            return FALSE;
    }
    if (fread(units, 1, length, file) != length)
        goto done;
    ok = TRUE;
    if (count == 0)
        goto done;
    needed = MeasureWideText(codePage, &flags, units, count);
    if (needed == 0)
        goto done;
    text = (char *)HeapAlloc(GetProcessHeap(), 0, (SIZE_T)needed + 1);
    if (!text) {
        ok = FALSE;
        goto done;
    }
    if (WideCharToMultiByte(codePage, flags, units, count, text, needed, NULL, NULL) != needed) {
        FreeBlock(text);
        ok = FALSE;
        goto done;
    }
    text[needed] = '\0';
    TextTable[number] = text;
done:
    if (units != ConversionBuffer)
        FreeBlock(units);
    return ok;
}

int ReadLanguageFile(const char *fileName)
{
    FILE *file;
    BYTE header[HEADER_BYTES];
    BYTE head[RECORD_HEAD_BYTES];
    BOOL wide;
    int codePageField;
    unsigned number;
    unsigned length;
    BOOL ok = TRUE;

    LanguageCodePage = -1;
    LanguageTextsWide = FALSE;
    if (!fileName)
        return 0;
    file = fopen(fileName, "rb");
    if (!file)
        return 0;
    if (fread(header, 1, HEADER_BYTES, file) != HEADER_BYTES ||
        LittleEndian32(header) != LANGUAGE_MAGIC || LittleEndian32(header + 4) != LANGUAGE_VERSION) {
        fclose(file);
        return 0;
    }
    wide = (header[HEADER_FLAGS] & FLAG_WIDE_TEXTS) != 0;
    codePageField = (int)LittleEndian32(header + HEADER_CODE_PAGE);

    /* Fewer than 4 bytes left: the records are finished. */
    while (ok && fread(head, 1, RECORD_HEAD_BYTES, file) == RECORD_HEAD_BYTES) {
        number = head[0] | (head[1] << 8);
        length = head[2] | (head[3] << 8);
        if (number < 1 || number > TEXT_COUNT) {
            ok = SkipText(file, length);
            continue;
        }
        EmptySlot((int)number);
        if (length == 0)
            continue;
        if (wide)
            ok = ReadWideText(file, (int)number, length, (UINT)codePageField);
        else
            ok = ReadNarrowText(file, (int)number, length);
    }
    fclose(file);
    if (!ok)
        return 0;
    LanguageCodePage = codePageField;
    LanguageTextsWide = wide;
    return 1;
}

/* A name that would reach outside the Texts folder is no language code. */
static BOOL LocaleNameIsPlain(const char *name)
{
    const char *p;

    for (p = name; *p; p++) {
        if (*p == '\\' || *p == '/' || *p == ':')
            return FALSE;
        if (p[0] == '.' && p[1] == '.')
            return FALSE;
    }
    return TRUE;
}

/* A name that does not fit MAX_PATH is refused as a file that cannot be read. */
static int ReadLanguageCode(const char *folder, const char *code)
{
    char fileName[TRAY_PATH_CHARS];

    if (lstrlenA(folder) + FILE_NAME_EXTRA_CHARS + lstrlenA(code) >= TRAY_PATH_CHARS) {
        LanguageCodePage = -1;
        LanguageTextsWide = FALSE;
        return 0;
    }
    wsprintfA(fileName, FILE_NAME_FORMAT, folder, code);
    return ReadLanguageFile(fileName);
}

int LoadLanguageTexts(const char *folder, const char *localeName)
{
    if (!folder || !ReadLanguageCode(folder, ENGLISH_CODE))
        return 0;
    if (localeName && *localeName && lstrcmpiA(localeName, "EN") != 0 && LocaleNameIsPlain(localeName))
        ReadLanguageCode(folder, localeName);
    return 1;
}

/* The value goes through a zeroed buffer of its own: one stored without its NUL is then still
   terminated and mixes nothing of the earlier name in.  A value too long for 19 bytes is no
   language code and means English. */
static void QueryLocaleName(HKEY root)
{
    HKEY key;
    char value[LOCALE_CHARS];
    DWORD size = LOCALE_CHARS - 1;
    LONG result;

    if (RegOpenKeyExA(root, SETTINGS_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    ZeroMemory(value, sizeof(value));
    result = RegQueryValueExA(key, LOCALE_VALUE, NULL, NULL, (BYTE *)value, &size);
    RegCloseKey(key);
    if (result == ERROR_SUCCESS)
        lstrcpyA(LocaleName, value);
    else if (result == ERROR_MORE_DATA)
        LocaleName[0] = '\0';
}

/* The per-user value is read last and wins. */
void ReadLocaleName(void)
{
    QueryLocaleName(HKEY_LOCAL_MACHINE);
    QueryLocaleName(HKEY_CURRENT_USER);
}

/* ModifyMenuA sets the item's state from the flags it is given, so the check mark and the gray
   state are handed on; `keep` names what stays, `set` what is added.  An empty text (neither
   file holds it) leaves the label on screen, as a blank label would be a blank item.  A
   command no longer in the menu is left alone. */
static void RelabelItem(HMENU popup, UINT command, int number, UINT keep, UINT set)
{
    UINT state = GetMenuState(popup, command, MF_BYCOMMAND);
    const char *text = GetText(number);

    if (state == (UINT)-1)
        return;
    state = (state & keep) | set;
    if (*text)
        ModifyMenuA(popup, command, MF_BYCOMMAND | MF_STRING | state, command, text);
    else
        EnableMenuItem(popup, command, MF_BYCOMMAND | (state & (MF_GRAYED | MF_DISABLED)));
}

static void MakeDefaultItem(HMENU popup, UINT command)
{
    MENUITEMINFOA info;

    ZeroMemory(&info, sizeof(info));
    info.cbSize = MENUITEMINFO_OLD_SIZE;
    info.fMask = MIIM_STATE;
    if (GetMenuItemInfoA(popup, command, FALSE, &info)) {
        info.fState |= MFS_DEFAULT;
        SetMenuItemInfoA(popup, command, FALSE, &info);
    }
}

static void KeepWebAddress(void)
{
    const char *address = GetText(10);
    int size = lstrlenA(address) + 1;
    char *copy = (char *)HeapAlloc(GetProcessHeap(), 0, (SIZE_T)size);

    if (copy)
        CopyMemory(copy, address, (SIZE_T)size);
    FreeBlock(WebAddressCopy);
    WebAddressCopy = copy;
}

void RelabelMenu(HWND window, int switchAvailable)
{
    const UINT keep = MF_CHECKED | MF_GRAYED | MF_DISABLED;
    HMENU menu;
    HMENU popup;

    ReadLocaleName();
    if (!LoadLanguageTexts(ProgramFolder, LocaleName))
        return;
    menu = window ? GetMenu(window) : NULL;
    popup = menu ? GetSubMenu(menu, 0) : NULL;
    if (popup) {
        RelabelItem(popup, IDM_START, 1, keep, 0);
        RelabelItem(popup, IDM_MASKING, 2, MF_CHECKED, switchAvailable ? MF_ENABLED : MF_GRAYED);
        RelabelItem(popup, IDM_HELP, 3, keep, 0);
        RelabelItem(popup, IDM_AUTOSTART, 4, keep, 0);
        RelabelItem(popup, IDM_EXIT, 5, keep, 0);
        RelabelItem(popup, IDM_WEBSITE, 6, keep, 0);
        RelabelItem(popup, IDM_VIRTUALDRIVES, 15, keep, 0);
        /* After the new labels: ModifyMenuA clears the default state with the rest. */
        MakeDefaultItem(popup, IDM_START);
    }
    /* Text 9 and the version; a long text 9 is cut so that the version still fits. */
    SetTrayCaption(GetText(9));
    KeepWebAddress();
}

static BOOL CALLBACK SetChildFont(HWND child, LPARAM font)
{
    SendMessageA(child, WM_SETFONT, (WPARAM)font, FALSE);
    return TRUE;
}

/* The low byte of an 8-bit file's field is the character set.  A UTF-16 file's field is a
   code page, whose low byte is mostly no character set at all (932 gives 164, 1251 gives 227):
   there the set Windows pairs with the code page counts, the low byte only where Windows
   knows none.  A field of 0 stays ANSI_CHARSET. */
static BYTE LanguageCharset(int codePage)
{
    CHARSETINFO info;

    if (LanguageTextsWide && codePage != 0 &&
        TranslateCharsetInfo((DWORD *)(UINT_PTR)(UINT)codePage, &info, TCI_SRCCODEPAGE))
        return (BYTE)info.ciCharset;
    return (BYTE)(codePage & 0xFF);
}

HFONT CreateLanguageFont(HWND dialog, int codePage)
{
    HFONT resourceFont;
    HFONT font;
    LOGFONTA logFont;

    if (codePage < 0)
        return NULL;
    resourceFont = (HFONT)SendMessageA(dialog, WM_GETFONT, 0, 0);
    if (!resourceFont)
        return NULL;
    if (GetObjectA(resourceFont, sizeof(logFont), &logFont) == 0)
        return NULL;
    logFont.lfCharSet = LanguageCharset(codePage);
    font = CreateFontIndirectA(&logFont);
    if (!font)
        return NULL;
    SendMessageA(dialog, WM_SETFONT, (WPARAM)font, FALSE);
    EnumChildWindows(dialog, SetChildFont, (LPARAM)font);
    return font;
}

void FreeTexts(void)
{
    int number;

    for (number = 1; number <= TEXT_COUNT; number++)
        EmptySlot(number);
    FreeBlock(WebAddressCopy);
    WebAddressCopy = NULL;
}

const char *WebAddress(void)
{
    return WebAddressCopy;
}
