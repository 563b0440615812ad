// Command, pane, menu, control and string identifiers shared by every layer:
// the menus, the tool bar, the context menu, the view and the string table.
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
constexpr int ID_FILE_EXPORT = 0x8100;

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
// One step through the zoom list from the view's zoom.
constexpr int ID_VIEW_ZOOM_IN = 0x8101;
constexpr int ID_VIEW_ZOOM_OUT = 0x8102;
// Long recordings opened from then on are analysed by the precise detector.
constexpr int ID_VIEW_PRECISE_QRS = 0x8103;
// R marks in their beat class's colour, with the class letter.
constexpr int ID_VIEW_BEAT_CLASSES = 0x8104;

// Window and help menus.
constexpr int ID_WINDOW_ARRANGE = 57649;
constexpr int ID_WINDOW_CASCADE = 57650;
constexpr int ID_WINDOW_TILE_HORZ = 57651;
constexpr int ID_APP_ABOUT = 57664;
// Back from free windows to the tabbed workspace.
constexpr int ID_WINDOW_TABS = 0x8110;
// The beat review: saving it, and the view's editing commands.
constexpr int ID_FILE_SAVE_REVIEW = 0x8120;
constexpr int ID_BEAT_LABEL_N = 0x8121;
constexpr int ID_BEAT_LABEL_S = 0x8122;
constexpr int ID_BEAT_LABEL_V = 0x8123;
constexpr int ID_BEAT_LABEL_F = 0x8124;
constexpr int ID_BEAT_LABEL_Q = 0x8125;
constexpr int ID_BEAT_DELETE = 0x8126;
constexpr int ID_BEAT_INSERT = 0x8127;
constexpr int ID_EDIT_UNDO_BEAT = 0x8128;
constexpr int ID_EDIT_REDO_BEAT = 0x8129;
// The context menu over a beat.
constexpr int IDR_BEAT_MENU = 0x8130;

// Docking panes (their ids are also the string ids of their captions).
constexpr int IDR_PANE_RHYTHM = 133;
constexpr int IDR_PANE_RESULT = 203;
constexpr int IDR_PANE_ABNORMAL = 204;
constexpr int IDR_PANE_TREND = 207;
// Panes beyond the recorder's own.
constexpr int IDR_PANE_SUMMARY = 0x8300;
constexpr int IDR_PANE_EVENTS = 0x8301;
constexpr int IDR_PANE_RRPLOTS = 0x8302;
constexpr int IDR_PANE_TEMPLATES = 0x8303;

// Menus and bars (128 and 129 are also the strings of the title and the document type).
constexpr int IDR_MAINFRAME = 128;
constexpr int IDR_ECGTYPE = 129;
constexpr int IDR_CONTEXT_MENU = 160;
constexpr int ID_STATUS_BAR = 0xE801;

// Strings of the waveform view and the printed report.
constexpr int IDS_REPORT_TITLE = 127;
constexpr int IDS_ZOOM_CAPTION = 130;
constexpr int IDS_STATUS_STATISTICS = 131;
constexpr int IDS_STATUS_DETECTING = 132;
constexpr int IDS_EVENT_TITLE = 134;
constexpr int IDS_ABNORMAL_CAPTION = 135;
constexpr int IDS_MIN_RATE_CAPTION = 136;
constexpr int IDS_MAX_RATE_CAPTION = 137;
constexpr int IDS_RESULT_HEADING = 138;
constexpr int IDS_RESULT_NOTE = 139;
constexpr int IDS_RESULT_LABELS = 140;
constexpr int IDS_RESULT_VALUES = 141;
constexpr int IDS_STRIP_LEGEND = 142;
constexpr int IDS_STRIP_CAPTION = 143;
constexpr int IDS_INFO_HEADING = 144;
constexpr int IDS_INFO_LABELS = 145;
constexpr int IDS_INFO_VALUES = 146;
constexpr int IDS_COMPANY = 147;
constexpr int AFX_IDS_IDLEMESSAGE = 57345;

// Names of the beat classes and of the events (strings beyond the recorder's own).
constexpr int IDS_CLASS_UNCLASSIFIED = 0x8200;
constexpr int IDS_CLASS_N = 0x8201;
constexpr int IDS_CLASS_S = 0x8202;
constexpr int IDS_CLASS_V = 0x8203;
constexpr int IDS_CLASS_F = 0x8204;
constexpr int IDS_CLASS_Q = 0x8205;
constexpr int IDS_EPISODE_FIRST = 0x8210;  // + EpisodeType, in its order

constexpr int RECENT_FILE_COUNT = 4;
