// Resource ids of Marlix.exe and its windows' titles. Only #defines: the .rc
// files, the portable search-window logic and the window tests include it.
#pragma once

// The hidden frame's title, by which a later start, the settings, the
// installer and the tests find it.
#define MARLIX_FRAME_TITLE "우편번호검색"
#define MARLIX_SEARCH_TITLE "우편번호 검색 및 다운로드 프로그램"
#define MARLIX_ABOUT_TITLE "Marlix 정보"
// The system menu's item that opens the about box.
#define MARLIX_ABOUT_ITEM "Marlix 정보(&A)..."

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_SEARCH 102
#define IDD_HOT_KEY 103
#define IDI_MARLIX 128
#define IDR_MAINMENU 129
#define IDB_BANNER_FIRST 147
#define IDB_BANNER_2 148
#define IDB_BANNER_3 149
#define IDB_BANNER_4 150
#define IDB_BANNER_LAST 151
// The same five frames drawn for 150% and for 200%.
#define IDB_BANNER_150_FIRST 152
#define IDB_BANNER_200_FIRST 157

#define IDC_MODE_TAB 1000
#define IDC_SEARCH 1001
#define IDC_KIND_COMBO 1002
#define IDC_FIRST_TERM 1003
#define IDC_RESULT_LIST 1004
#define IDC_BANNER 1006
#define IDC_UPDATE_GROUP 1008
#define IDC_UPDATE 1009
#define IDC_UPDATE_STATUS 1010
#define IDC_DATA_VERSION 1013
#define IDC_SECOND_TERM 1017
#define IDC_UPDATE_CANCEL 1020
#define IDC_UPDATE_PROGRESS 1021
#define IDC_UPDATE_PROGRESS_TEXT 1022
#define IDC_SEARCH_PROGRESS 1023
#define IDC_HOT_KEY 1024

#define ID_EXIT 32771
#define ID_ALWAYS_ON_TOP 32772
#define ID_COPY_POSTCODE 32773
#define ID_COPY_ADDRESS 32774
#define ID_COPY_WHOLE_LINE 32775
#define ID_APP_ABOUT 32777
#define ID_COPY_ENGLISH 32778
#define ID_ADDRESS_LIST 32779
#define ID_HOT_KEY 32780

// The system-menu item that opens the about box.
#define IDM_ABOUTBOX 0x0010
