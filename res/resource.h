// Resource and control identifiers, shared by the dialog template and the code.
#pragma once

#define IDI_APP 107
#define IDR_FIRMWARE 110
#define IDD_MAIN 130

#define IDC_CONFIGURE 1004
#define IDC_FIND_DEVICES 1007
#define IDC_CLEAR_LOG 1008
#define IDC_LOG 1009
#define IDC_DEVICE_LIST 1011
#define IDC_DEVICE_INFO 1018
#define IDC_SERIAL_NOKEY 1029
#define IDC_PLUG_NOTIFY 1030
#define IDC_SET_ISP_OPTION 1032
#define IDC_AUTO_DOWNLOAD 10330
#define IDC_DOWNLOAD_COUNT 10332
#define IDC_LIMIT_COUNT 10344
#define IDC_PORT_SELECT 10345
#define IDC_WAIT_TIME 10346
#define IDC_MACHINE_SIGNAL 10347
#define IDC_KEEP_POWER 10348
#define IDC_COUNT_LIMIT 10349

#define IDC_STATIC -1
