#include "app/form.h"

#include <iterator>

#include "app/request.h"
#include "gui/controls.h"
#include "gui/window_table.h"

namespace {

// Centred on the screen (bit 0), with caption, system menu, sizing border
// and minimise box; no maximise box. The x and y below are therefore unused.
constexpr int32_t MAIN_FLAGS = 0xCE0001;
constexpr int32_t MAIN_X = 328, MAIN_Y = 107, MAIN_WIDTH = 361, MAIN_HEIGHT = 577;

constexpr int32_t CENTRED_LABEL = 1;
constexpr int32_t PROGRESS_MIN = 0, PROGRESS_MAX = 100;

enum class Kind { Label, CentredLabel, Edit, Button, Progress };

struct ControlRow {
  FormControl id;
  Kind kind;
  int32_t x, y, width, height;
  const char* text;
};

// In creation order, which is number order.
constexpr ControlRow FORM[] = {
    {ID_LABEL_PROGRAM_TITLE, Kind::Label, 10, 60, 340, 20,
     "Program title (e.g. 'Welcome to Dune rally update from 1.0 up to 1.1')"},
    {ID_WINDOW_TITLE, Kind::Edit, 10, 30, 340, 20, InitialTextOf(ID_WINDOW_TITLE)},
    {ID_LABEL_PROGRAM_DESCRIPTION, Kind::Label, 10, 110, 340, 20,
     "Program description (e.g 'This program will update Dune rally ...')"},
    {ID_PROGRAM_TITLE, Kind::Edit, 10, 80, 340, 20, InitialTextOf(ID_PROGRAM_TITLE)},
    {ID_LABEL_SYSTEM_NOTICE, Kind::Label, 10, 160, 70, 20, "System notice"},
    {ID_PROGRAM_DESCRIPTION, Kind::Edit, 10, 130, 340, 20,
     InitialTextOf(ID_PROGRAM_DESCRIPTION)},
    {ID_SYSTEM_NOTICE, Kind::Edit, 10, 180, 340, 20, InitialTextOf(ID_SYSTEM_NOTICE)},
    {ID_LABEL_FOLDER_TIP, Kind::Label, 10, 210, 90, 20, "Select folder tip"},
    {ID_LABEL_OLD_FILE, Kind::Label, 10, 360, 80, 20, "Old version file"},
    {ID_FOLDER_TIP, Kind::Edit, 10, 230, 340, 20, InitialTextOf(ID_FOLDER_TIP)},
    {ID_DEFAULT_FOLDER, Kind::Edit, 10, 280, 340, 20, InitialTextOf(ID_DEFAULT_FOLDER)},
    {ID_LABEL_INSTALL_BUTTON, Kind::Label, 10, 310, 70, 20, "Install button"},
    {ID_INSTALL_BUTTON_TEXT, Kind::Edit, 10, 330, 70, 20,
     InitialTextOf(ID_INSTALL_BUTTON_TEXT)},
    {ID_LABEL_WINDOW_TITLE, Kind::Label, 10, 10, 270, 20,
     "Window title (e.g 'Dune rally update')"},
    {ID_EXIT_BUTTON_TEXT, Kind::Edit, 100, 330, 70, 20,
     InitialTextOf(ID_EXIT_BUTTON_TEXT)},
    {ID_LABEL_EXIT_BUTTON, Kind::Label, 100, 310, 60, 20, "Exit button"},
    {ID_OLD_FILE, Kind::Edit, 10, 380, 280, 20, ""},
    {ID_LABEL_NEW_FILE, Kind::Label, 10, 410, 90, 20, "New version file"},
    {ID_OPEN_OLD, Kind::Button, 300, 380, 50, 20, "Open"},
    {ID_NEW_FILE, Kind::Edit, 10, 430, 280, 20, ""},
    {ID_OPEN_NEW, Kind::Button, 300, 430, 50, 20, "Open"},
    {ID_GENERATE, Kind::Button, 30, 470, 150, 30, "Generate patch"},
    {ID_PROGRESS, Kind::Progress, 10, 520, 330, 10, nullptr},
    {ID_LABEL_DEFAULT_FOLDER, Kind::Label, 10, 260, 220, 20, "Default install folder"},
    {ID_EXIT, Kind::Button, 190, 470, 150, 30, "Exit"},
    {ID_CREDIT, Kind::CentredLabel, 10, 550, 340, 20,
     "Velloran patch creation tool - made by Velloran"},
    {ID_LABEL_OPEN_BUTTON, Kind::Label, 190, 310, 90, 20, "Open folder button"},
    {ID_OPEN_BUTTON_TEXT, Kind::Edit, 190, 330, 70, 20,
     InitialTextOf(ID_OPEN_BUTTON_TEXT)},
};

constexpr bool InNumberOrder() {
  for (int32_t i = 0; i < static_cast<int32_t>(std::size(FORM)); i++)
    if (FORM[i].id != i)
      return false;
  return true;
}
static_assert(std::size(FORM) == 28 && InNumberOrder());

void CreateRow(const ControlRow& row) {
  switch (row.kind) {
    case Kind::Label:
      CreateLabel(row.id, row.x, row.y, row.width, row.height, row.text);
      break;
    case Kind::CentredLabel:
      CreateLabelStyled(row.id, row.x, row.y, row.width, row.height, row.text,
                        CENTRED_LABEL);
      break;
    case Kind::Edit:
      CreateEditField(row.id, row.x, row.y, row.width, row.height, row.text);
      break;
    case Kind::Button:
      CreateButton(row.id, row.x, row.y, row.width, row.height, row.text);
      break;
    case Kind::Progress:
      CreateProgressBar(row.id, row.x, row.y, row.width, row.height, PROGRESS_MIN,
                        PROGRESS_MAX);
      break;
  }
}

}  // namespace

int32_t BuildMainForm() {
  if (OpenAppWindow(WIN_MAIN, MAIN_X, MAIN_Y, MAIN_WIDTH, MAIN_HEIGHT, MAIN_FLAGS,
                    MAIN_TITLE) == 0)
    return 0;
  WindowRef window = LastWindowHandle();
  if (window == 0)
    return 0;
  SetControlParent(window);
  for (const ControlRow& row : FORM)
    CreateRow(row);
  // 'p' is free among the window menu's own keys.
  AddWindowMenuItem(WIN_MAIN, CMD_COMPACT_PATCHES, "Com&pact patches");
  return 0;
}

void SetFormBusy(bool busy) {
  for (const ControlRow& row : FORM)
    if (row.kind == Kind::Edit || row.kind == Kind::Button)
      EnableControl(row.id, !busy);
  EnableWindowMenuItem(WIN_MAIN, WINDOW_MENU_CLOSE, !busy);
  EnableWindowMenuItem(WIN_MAIN, CMD_COMPACT_PATCHES, !busy);
}
