// Resource identifiers shared by the resource script and the code.
#pragma once

#define IDI_KESTRIN        128
#define IDD_SETTINGS       129
#define IDD_BUSY           130
#define IDD_ABOUT          132

// Busy animation frames: icons 131 .. 139
#define IDI_BUSY_FIRST     131
#define IDI_BUSY_LAST      139

// Settings dialog (template 129)
#define IDC_PASSWORD       1001
#define IDC_BATCHSETTINGS  1002
#define IDC_FILENAME       1003
#define IDC_ENCTYPE        1004
#define IDC_ABOUT          1005
#define IDC_CONFIRM        1006
#define IDC_PASSWORD_LABEL 1007
#define IDC_METHOD_LABEL   1009
#define IDC_NOTE           1010

// The product icon of the settings and busy dialogs
#define IDC_PRODUCT_ICON   1008

// About box (template 132)
#define IDC_VERSION        1006

// Busy dialog (template 130)
#define IDC_PROGRESS_TOTAL 1000
#define IDC_PROGRESS_FILE  1001
#define IDC_COUNT          1037
#define IDC_BUSYICON       1038
#define IDC_PATH           1039
