#pragma once

// Resource and control ids shared by skm2trn.rc and the dialog code.
#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_MAIN 102
#define IDR_MAINFRAME 128
#define IDR_DEFAULT_SOUND 130
#define IDM_ABOUTBOX 0x0010

#define IDC_CONVERT 1000
#define IDC_SELECT_FOLDER 1001
#define IDC_PROGRESS 1004
#define IDC_STATUS 1005
#define IDC_MESSAGE 1006
