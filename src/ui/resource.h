#pragma once

// Resources of the stub; shared by the .rc and the dialogs.
#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_EXTRACT 102
#define IDR_MAINFRAME 128
#define IDD_DEST_FOLDER 129
#define IDD_KEY 133

// Extraction dialog.
#define IDC_EXTRACT 1000
#define IDC_FILE_NAME 1002
#define IDC_PROGRESS_FILE 1003
#define IDC_PROGRESS_ALL 1004

// Destination dialog.
#define IDC_DEST_EDIT 1001
#define IDC_BROWSE 1002

// Key dialog.
#define IDC_KEY_EDIT 1028

// The About entry appended to the extraction dialog's system menu.
#define IDM_ABOUTBOX 0x0010

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
