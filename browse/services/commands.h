// SPDX-License-Identifier: GPL-2.0-or-later
// Command ids of the viewer's menus, toolbar and keys, and their texts.
#pragma once

#include <QString>

namespace inkbrite {

enum CommandId : int {
  kCmdParaBar = 32771,
  kCmdFirstPage = 32773,
  kCmdLastPage = 32774,
  kCmdFullScreen = 32777,
  kCmdAutoPlay = 32778,
  kCmdBatch = 32779,
  kCmdCloseAll = 32780,
  kCmdNextWindow = 32781,
  kCmdRefresh = 32786,
  kCmdNextPage = 32787,
  kCmdPreviousPage = 32788,
  kCmdAutoPlaySettings = 32789,
  kCmdDisplayOrder = 32791,
  kCmdFitWindow = 32798,
  kCmdTopLeft = 32806,
  kCmdBottomLeft = 32807,
  kCmdTopRight = 32813,
  kCmdBottomRight = 32814,
  kCmdSingleKey = 32816,
  kCmdAskBeforeOverwrite = 32830,  // Save asks before replacing the source file
  kCmdSinglePage = 32840,          // the two-page layout (remembered per folder or book)
  kCmdTwoPages = 32841,
  kCmdCoverAlone = 32842,
  kCmdRightToLeft = 32843,
  kCmdContinuous = 32845,  // the pages one under another, scrolled as one strip
  kCmdThumbnails = 32870,  // the thumbnail strip (shown or hidden, remembered)
  kCmdShortcutList = 32871,
  kCmdCentreSmallPages = 32844,  // small pages centred on grey (a program-wide setting)
  kCmdWindowList = 32850,        // 32850...: the open windows in the 窗口 menu
  kCmdZoomIn = 32900,            // the view's zoom and turn (display only)
  kCmdZoomOut = 32901,
  kCmdActualSize = 32902,
  kCmdFitWidth = 32903,
  kCmdFitHeight = 32904,
  kCmdFitPage = 32905,
  kCmdTurnRight = 32906,
  kCmdTurnLeft = 32907,
  kCmdShowOriginal = 32908,  // before and after (display only)
  kCmdSplitView = 32909,
  kCmdHistogram = 32910,  // the histogram dock and the clipping marks
  kCmdClipWarnings = 32911,
  kCmdSingleInstance = 32912,         // one viewer at a time (a program-wide choice)
  kCmdReaderFullScreen = 32913,       // only the page on black (F11)
  kCmdRecentPerFolder = 32920,        // one recent entry per folder or book (a program-wide choice)
  kCmdDoubleClickFullScreen = 32921,  // a double-click on the page: the reader's full screen
  kCmdOpen = 57601,
  kCmdClose = 57602,
  kCmdSave = 57603,
  kCmdSaveAs = 57604,
  kCmdRecentFile = 57616,  // 57616 to 57619
  kCmdNewWindow = 57648,
  kCmdCascade = 57650,
  kCmdTileHorizontal = 57651,
  kCmdTileVertical = 57652,
  kCmdAbout = 57664,
  kCmdExit = 57665,
  kCmdHelp = 57670,
  kCmdToolbar = 59392,
  kCmdStatusBar = 59393,
};

// The menu text of a command ("&" marks the access key, "\t" the key
// shown), empty for commands without a menu item of their own.
QString CommandMenuText(int id);
// The status-bar prompt and the tooltip of a command ("prompt\ntip").
QString CommandPrompt(int id);

}  // namespace inkbrite
