/* Identifiers of the settings dialog and its controls, shared by the dialog
   procedure and the resource script (so plain #defines, no C++). */
#ifndef NOWGLOW_RESOURCE_IDS_H
#define NOWGLOW_RESOURCE_IDS_H

#define IDD_CONFIG 101

#define IDC_TIME_REMAINING 1001
#define IDC_TIME_ELAPSED 1002
#define IDC_TIME_DISABLED 1003
#define IDC_SHOW_ALBUM_DATE 1004
#define IDC_SHOW_VERSION 1005

#endif
