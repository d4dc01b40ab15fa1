// The main dialog of KT5CUfirm.exe and its two connection panels.
#pragma once

#include <windows.h>

#include "control_ids.h"

inline constexpr int kMainDialog = KT_DIALOG_MAIN;
inline constexpr int kLanPanel = KT_DIALOG_LAN_PANEL;
inline constexpr int kComPanel = KT_DIALOG_COM_PANEL;

enum ControlId : int {
    IdStart = KT_ID_START,
    IdExit = KT_ID_EXIT,
    IdStatus = KT_ID_STATUS,
    IdPanelPlace = KT_ID_PANEL_PLACE,
    IdMethod = KT_ID_METHOD,
    IdTcpPort = KT_ID_TCP_PORT,
    IdComPort = KT_ID_COM_PORT,
    IdIpAddress = KT_ID_IP_ADDRESS,
    IdProgress = KT_ID_PROGRESS,
    IdImageVersion = KT_ID_IMAGE_VERSION,
    IdDeviceVersion = KT_ID_DEVICE_VERSION,
};

extern HINSTANCE instanceHandle;
extern HWND comPanel;
extern HWND lanPanel;
extern HWND progressBar;
extern HMENU systemMenu;

INT_PTR CALLBACK mainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
