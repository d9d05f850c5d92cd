// Resource and control IDs, shared by the resource script and the code.
#pragma once

// Dialog templates
#define IDD_ABOUTBOX 100
#define IDD_MAIN 102

// Menu, icon and strings
#define IDR_MAINFRAME 128
#define IDR_MAINMENU 129
#define IDS_ABOUTBOX 101
#define IDS_SOCKETS_INIT_FAILED 103
#define IDR_MAINACCEL 130
#define IDR_TIMELINEACCEL 131

// Commands
#define IDM_ABOUTBOX 16
#define ID_TARGET_MODEL_FIRST 2001
#define ID_TARGET_MODEL_LAST 2002
// The log pane's commands (its context menu, Ctrl+S)
#define ID_LOG_COPY 2501
#define ID_LOG_SELECT_ALL 2502
#define ID_LOG_SAVE_AS 2503
#define ID_LOG_CLEAR 2504
#define ID_LOG_TIMESTAMPS 2505
#define ID_LOG_FIND 2506
#define ID_LOG_FIND_NEXT 2507
#define ID_LOG_FIND_PREVIOUS 2508
// The Device menu; its Poll items, Off first, in the order of their intervals
#define ID_DEVICE_TIMELINE 2601
#define ID_DEVICE_RECONNECT 2602
#define ID_POLL_FIRST 2621
#define ID_POLL_OFF 2621
#define ID_POLL_100MS 2622
#define ID_POLL_250MS 2623
#define ID_POLL_500MS 2624
#define ID_POLL_1S 2625
#define ID_POLL_2S 2626
#define ID_POLL_5S 2627
#define ID_POLL_LAST 2627

// Timeline window controls; Export is also its Ctrl+S
#define IDC_TIMELINE_FIT 2611
#define IDC_TIMELINE_FOLLOW 2612
#define IDC_TIMELINE_CLEAR 2613
#define IDC_TIMELINE_EXPORT 2614
#define IDC_TIMELINE_CHART 2615
#define IDC_TIMELINE_READOUT 2616

// Main dialog controls
#define IDC_SCROLL_ROWS 1003
#define IDC_PANEL_ROWS 1004
#define IDC_EDIT_TARGET 1006
#define IDC_EDIT_PORT 1007
#define IDC_COMBO_START_DIO 1011
#define IDC_COMBO_END_DIO 1013
#define IDC_BTN_MULTI_WRITE 1014
#define IDC_BTN_MULTI_READ 1015
#define IDC_RICH_LOG 1016
#define IDC_HDR_DIO_NO 1017
#define IDC_HDR_MODE 1018
#define IDC_HDR_STATE 1019
#define IDC_COL_WRITE 1020
#define IDC_COL_READ 1021
#define IDC_BTN_CONNECT 1022
#define IDC_GRP_RECEIVE 1024
#define IDC_GRP_SINGLE 1026
#define IDC_GRP_MULTI 1027
#define IDC_LBL_START_DIO 1028
#define IDC_LBL_END_DIO 1029
#define IDC_BTN_CLEAR_LOG 1030

// About box controls
#define IDC_STATIC_VERSION 1031

// Row controls: row r has the IDs below plus r.
#define IDC_ROW_LABEL 0xFFFF
#define IDC_ROW_MODE_FIRST 2101
#define IDC_ROW_STATE_FIRST 2201
#define IDC_ROW_WRITE_FIRST 2301
#define IDC_ROW_WRITE_LAST 2332
#define IDC_ROW_READ_FIRST 2401
#define IDC_ROW_READ_LAST 2432
