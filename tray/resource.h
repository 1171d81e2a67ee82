/* Resource ids of OrvandTray, shared by the program and its resource script. */
#ifndef TRAY_RESOURCE_H
#define TRAY_RESOURCE_H

/* Menus: the class menu, whose first popup is the tray menu */
#define IDR_TRAYMENU                116

/* Commands of the tray menu */
#define IDM_EXIT                    115
#define IDM_MASKING                 120
#define IDM_AUTOSTART               122
#define IDM_START                   124
#define IDM_HELP                    125
#define IDM_WEBSITE                 126
#define IDM_VIRTUALDRIVES           132

/* Icons: the tray's status pictures (the XP set has 256 colours) and the drive dialog's icon */
#define IDI_MASKING_ON              128
#define IDI_MASKING_OFF             129
#define IDI_MASKING_OFF_XP          138
#define IDI_MASKING_ON_XP           139
#define IDI_DRIVES                  146

/* Dialogs */
#define IDD_VIRTUALDRIVES           141

/* Controls of IDD_VIRTUALDRIVES (OK and Cancel are IDOK and IDCANCEL) */
#define IDC_VIRTUALDRIVES_LABEL     102
#define IDC_VIRTUALDRIVES_COUNT     1028
#define IDC_VIRTUALDRIVES_SHEEP     1030

#endif
