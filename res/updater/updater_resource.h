// Resource ids of MarlixUpd.exe and its windows' titles. Only #defines.
#pragma once

#define MARLIXUPD_TITLE "MarlixUpd"
#define MARLIXUPD_ABOUT_TITLE "MarlixUpd 정보"
#define MARLIXUPD_ABOUT_ITEM "MarlixUpd 정보(&A)..."

#define IDD_UPDATER_ABOUTBOX 100
#define IDS_UPDATER_ABOUTBOX 101
#define IDD_UPDATER 102
#define IDI_UPDATER 128

#define IDC_UPDATE_MESSAGE 1000
#define IDC_UPDATER_PROGRESS 1002

// The system-menu item that opens the about box.
#define IDM_UPDATER_ABOUTBOX 0x0010
