// Resource ids of the window that converts a pasted list of addresses
// (address_list.rc). Only #defines; none of them is one of resource.h's.
#pragma once

#define IDD_ADDRESS_LIST 104

#define IDC_LIST_INPUT 1030
#define IDC_LIST_CONVERT 1031
#define IDC_LIST_CANCEL 1032
#define IDC_LIST_PROGRESS 1033
#define IDC_LIST_STATUS 1034
#define IDC_LIST_TABLE 1035
#define IDC_LIST_CANDIDATES 1036
#define IDC_LIST_COPY 1037
#define IDC_LIST_SAVE 1038
