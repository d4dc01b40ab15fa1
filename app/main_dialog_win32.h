// The main dialog of KT5CUfirm.exe and its two connection panels.
#pragma once

#include <windows.h>

inline constexpr int kMainDialog = 101;
inline constexpr int kLanPanel = 102;
inline constexpr int kComPanel = 103;

enum ControlId : int {
    IdStart = 1,
    IdExit = 2,
    IdStatus = 1000,
    IdPanelPlace = 1001,
    IdMethod = 1002,
    IdTcpPort = 1003,
    IdComPort = 1004,
    IdIpAddress = 1005,
    IdProgress = 1007,
    IdImageVersion = 1008,
    IdDeviceVersion = 1009,
};

extern HINSTANCE instanceHandle;
extern HWND comPanel;
extern HWND lanPanel;
extern HWND progressBar;
extern HMENU systemMenu;

INT_PTR CALLBACK mainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
