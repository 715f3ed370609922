// Resource identifiers of the web map control; read by the resource script and by the code.
#define IDS_TESSELDLL 1
#define IDS_TESSELDLL_PPG 2
#define IDS_TESSELDLL_PPG_CAPTION 200
#define IDD_ABOUTBOX_TESSELDLL 1
#define IDD_PROPPAGE_TESSELDLL 200
#define IDR_HTML_CGISPAGE 202
#define IDD_DIALOG_GISPAGE 203
#define IDB_TESSELDLL 1
#define IDI_ABOUTDLL 1
#define IDC_BROWSER 102
