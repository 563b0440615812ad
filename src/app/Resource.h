// Command, pane and resource identifiers shared by the menus, the tool bar,
// the context menu and the view.
#pragma once

// File menu.
constexpr int ID_FILE_OPEN = 57601;
constexpr int ID_FILE_CLOSE = 57602;
constexpr int ID_FILE_CLOSE_ALL = 32774;
constexpr int ID_FILE_PRINT = 57607;
constexpr int ID_FILE_PRINT_DIRECT = 57608;
constexpr int ID_FILE_PRINT_PREVIEW = 57609;
constexpr int ID_FILE_PRINT_SETUP = 57606;
constexpr int ID_FILE_MRU_FILE1 = 57616;
constexpr int ID_FILE_MRU_LAST = 57631;
constexpr int ID_APP_EXIT = 57665;

// View menu.
constexpr int ID_VIEW_GRID = 32839;
constexpr int ID_VIEW_RMARKS = 32841;
constexpr int ID_ZOOM_50 = 32859;
constexpr int ID_ZOOM_75 = 32860;
constexpr int ID_ZOOM_100 = 32861;
constexpr int ID_ZOOM_125 = 32863;
constexpr int ID_ZOOM_150 = 32864;
constexpr int ID_ZOOM_200 = 32865;
constexpr int ID_ZOOM_300 = 32876;
constexpr int ID_ZOOM_400 = 32866;

// Window and help menus.
constexpr int ID_WINDOW_ARRANGE = 57649;
constexpr int ID_WINDOW_CASCADE = 57650;
constexpr int ID_WINDOW_TILE_HORZ = 57651;
constexpr int ID_APP_ABOUT = 57664;

// Docking panes (their ids are also the string ids of their captions).
constexpr int IDR_PANE_RHYTHM = 133;
constexpr int IDR_PANE_RESULT = 203;
constexpr int IDR_PANE_ABNORMAL = 204;
constexpr int IDR_PANE_TREND = 207;

// Menus and bars.
constexpr int IDR_MAINFRAME = 128;
constexpr int IDR_ECGTYPE = 129;
constexpr int IDR_CONTEXT_MENU = 160;
constexpr int ID_STATUS_BAR = 0xE801;

constexpr int RECENT_FILE_COUNT = 4;
