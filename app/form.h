// The main form: window 0 and its 28 controls, built once at start-up.
//
// The ID_ numbers are how the rest of the tool addresses the controls; they
// are also the creation order.
#pragma once

#include <cstdint>

constexpr int32_t WIN_MAIN = 0;

enum FormControl : int32_t {
  ID_LABEL_PROGRAM_TITLE = 0,
  ID_WINDOW_TITLE = 1,
  ID_LABEL_PROGRAM_DESCRIPTION = 2,
  ID_PROGRAM_TITLE = 3,
  ID_LABEL_SYSTEM_NOTICE = 4,
  ID_PROGRAM_DESCRIPTION = 5,
  ID_SYSTEM_NOTICE = 6,
  ID_LABEL_FOLDER_TIP = 7,
  ID_LABEL_OLD_FILE = 8,
  ID_FOLDER_TIP = 9,
  ID_DEFAULT_FOLDER = 10,
  ID_LABEL_INSTALL_BUTTON = 11,
  ID_INSTALL_BUTTON_TEXT = 12,
  ID_LABEL_WINDOW_TITLE = 13,
  ID_EXIT_BUTTON_TEXT = 14,
  ID_LABEL_EXIT_BUTTON = 15,
  ID_OLD_FILE = 16,
  ID_LABEL_NEW_FILE = 17,
  ID_OPEN_OLD = 18,
  ID_NEW_FILE = 19,
  ID_OPEN_NEW = 20,
  ID_GENERATE = 21,
  ID_PROGRESS = 22,
  ID_LABEL_DEFAULT_FOLDER = 23,
  ID_EXIT = 24,
  ID_CREDIT = 25,
  ID_LABEL_OPEN_BUTTON = 26,
  ID_OPEN_BUTTON_TEXT = 27,
};

constexpr char MAIN_TITLE[] = "Velloran patch creation tool";

// The check item "Compact patches" in the main window's window menu.
constexpr int32_t CMD_COMPACT_PATCHES = 0x100;

// Opens the main window (centred, client area 361 x 577), creates the
// controls in number order and adds the window menu's item, unchecked.
// When the window cannot be opened no control is created; the result is 0
// either way, and start-up tells a missing window by LastWindowHandle.
int32_t BuildMainForm();

// The form while a patch is made: every field and button greyed, and the
// window menu's Close and "Compact patches" too, so that nothing starts a
// second run or ends this one; the window itself still moves and paints.
void SetFormBusy(bool busy);
