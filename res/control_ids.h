/* The ids of KT5CUfirm.exe's dialog templates and of their controls: one
   table for dialogs.rc, the dialog's code and the tests that drive it. Plain
   #defines, so that the resource compiler reads it too. */
#ifndef KT_CONTROL_IDS_H
#define KT_CONTROL_IDS_H

/* The templates: the main dialog and the two connection panels. */
#define KT_DIALOG_MAIN 101
#define KT_DIALOG_LAN_PANEL 102
#define KT_DIALOG_COM_PANEL 103

/* The controls. Start and Exit are the dialog manager's IDOK and IDCANCEL. */
#define KT_ID_START 1
#define KT_ID_EXIT 2
#define KT_ID_STATUS 1000
#define KT_ID_PANEL_PLACE 1001
#define KT_ID_METHOD 1002
#define KT_ID_TCP_PORT 1003
#define KT_ID_COM_PORT 1004
#define KT_ID_IP_ADDRESS 1005
#define KT_ID_PROGRESS 1007
#define KT_ID_IMAGE_VERSION 1008
#define KT_ID_DEVICE_VERSION 1009

#endif
