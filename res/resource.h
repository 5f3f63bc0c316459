// Identifiers shared by the resource script and the code.
#pragma once

#define IDD_DOWNLOAD_DIALOG 102
#define IDI_APP_ICON 128
#define IDB_LOGO 130
#define IDR_FIRMWARE_IMAGE 133

#define IDC_MASS_ERASE 1000
#define IDC_WRITE 1001
#define IDC_READ 1002
#define IDC_VERIFY 1003
#define IDC_RECONNECT 1005
#define IDC_LOGO 1006
#define IDC_CHECKSUM 1008
#define IDC_CHIP_TYPE 1009
#define IDC_IMAGE_PATH 1010
#define IDC_OPEN_FILE 1011
#define IDC_UPDATE 1012
#define IDC_READ_PROTECT 1014
#define IDC_EXIT_ISP 1015
#define IDC_PROGRESS 1016
