/* Resource ids of ControlQuinCDIO, shared by the program and its resource script. */
#ifndef CDIO_CONTROL_RESOURCE_H
#define CDIO_CONTROL_RESOURCE_H

/* Dialogs */
#define IDD_SETTINGS                101

/* Icons */
#define IDI_CONTROL                 102

/* Controls of IDD_SETTINGS (OK and Cancel are IDOK and IDCANCEL) */
#define IDC_SETTINGS_NOTIMEDIO      1001
#define IDC_SETTINGS_NOLOCKEDIO     1002

#endif
