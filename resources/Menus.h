// Menus 128 and 129 (the same items), context menu 160 and tool bar 128 as
// lists of command ids: SEPARATOR for a separator, ID_FILE_MRU_FILE1 where
// the recently used files go. Item texts are in the string table (MenuText).
#pragma once

#include "resources/Resource.h"

constexpr int SEPARATOR = 0;

inline constexpr int kMenuFile[] = {ID_FILE_OPEN,          ID_FILE_EXPORT,      SEPARATOR,           ID_FILE_CLOSE, ID_FILE_CLOSE_ALL,
                                    SEPARATOR,             ID_FILE_PRINT,       ID_FILE_PRINT_PREVIEW,
                                    ID_FILE_PRINT_SETUP,   SEPARATOR,           ID_FILE_MRU_FILE1,
                                    SEPARATOR,             ID_APP_EXIT,         SEPARATOR,           ID_FILE_SAVE_REVIEW};
inline constexpr int kMenuZoom[] = {ID_ZOOM_50,  ID_ZOOM_75,  ID_ZOOM_100, ID_ZOOM_125,
                                    ID_ZOOM_150, ID_ZOOM_200, ID_ZOOM_300, ID_ZOOM_400};
// The context menu over a beat, after context menu 160's items.
inline constexpr int kMenuBeat[] = {ID_BEAT_LABEL_N, ID_BEAT_LABEL_S, ID_BEAT_LABEL_V, ID_BEAT_LABEL_F, ID_BEAT_LABEL_Q,
                                    SEPARATOR,       ID_BEAT_DELETE,  ID_BEAT_INSERT,  SEPARATOR,       ID_EDIT_UNDO_BEAT,
                                    ID_EDIT_REDO_BEAT};
// The view menu and context menu 160: the zoom pop-up, then these.
inline constexpr int kMenuViewAfterZoom[] = {SEPARATOR, ID_VIEW_GRID, ID_VIEW_RMARKS};
// The view menu only (not context menu 160): after the items above.
inline constexpr int kMenuViewMain[] = {SEPARATOR, ID_VIEW_ZOOM_IN, ID_VIEW_ZOOM_OUT, SEPARATOR, ID_VIEW_PRECISE_QRS, ID_VIEW_BEAT_CLASSES};
inline constexpr int kMenuWindow[] = {ID_WINDOW_CASCADE, ID_WINDOW_TILE_HORZ, ID_WINDOW_ARRANGE, SEPARATOR, ID_WINDOW_TABS};
inline constexpr int kMenuHelp[] = {ID_APP_ABOUT};
inline constexpr int kToolBarMain[] = {ID_FILE_OPEN,   SEPARATOR, ID_FILE_PRINT, SEPARATOR, ID_VIEW_GRID,
                                       ID_VIEW_RMARKS, SEPARATOR, ID_APP_ABOUT,  SEPARATOR, ID_APP_EXIT};
