#include "app/commands.h"

#include <cstdint>

#include "app/form.h"
#include "app/patch.h"
#include "gui/controls.h"
#include "gui/requesters.h"
#include "rt/files.h"
#include "rt/strings.h"

namespace {

constexpr char ERROR_TITLE[] = "Error!";
constexpr char FATAL_TITLE[] = "Fatal error!";
constexpr char DONE_TITLE[] = "Done!";
constexpr char CONTINUE_QUESTION[] = "Found error. Continue anyway?";

constexpr char EXE_FILTER[] = "Executable files(*.exe)|*.exe";
constexpr int32_t OPEN_PATTERN = 0;
// The filter has one pair; 1 names none and leaves the choice to the dialog.
constexpr int32_t SAVE_PATTERN = 1;
constexpr char SAVE_TITLE[] = "Select patch executable file ";
constexpr char DEFAULT_PATCH_NAME[] = "patch.exe";
constexpr char PATCH_EXTENSION[] = ".exe";
constexpr int32_t PATCH_EXTENSION_LENGTH = 4;

struct TextField {
  FormControl id;
  StringVar PatchRequest::*field;
  const char* emptyMessage;
};

// Read and tested in this order, which is also their order in the patch.
constexpr TextField TEXT_FIELDS[] = {
    {ID_WINDOW_TITLE, &PatchRequest::WindowTitle, "Window title is empty"},
    {ID_PROGRAM_TITLE, &PatchRequest::ProgramTitle, "Program title is empty"},
    {ID_PROGRAM_DESCRIPTION, &PatchRequest::ProgramDescription,
     "Program description is empty"},
    {ID_SYSTEM_NOTICE, &PatchRequest::SystemNotice, "System notice is empty"},
    {ID_FOLDER_TIP, &PatchRequest::FolderTip, "FolderTip is empty"},
    {ID_DEFAULT_FOLDER, &PatchRequest::DefaultFolder, "Default folder is empty"},
    {ID_OPEN_BUTTON_TEXT, &PatchRequest::OpenButtonText, "Button open is empty"},
    {ID_INSTALL_BUTTON_TEXT, &PatchRequest::InstallButtonText, "Button install is empty"},
    {ID_EXIT_BUTTON_TEXT, &PatchRequest::ExitButtonText, "Button exit is empty"},
};

struct OutcomeMessage {
  PatchOutcome outcome;
  const char* title;
  const char* text;
};

constexpr OutcomeMessage OUTCOME_MESSAGES[] = {
    {PATCH_WRITTEN, DONE_TITLE, "Process done"},
    {PATCH_STUB_REJECTED, FATAL_TITLE, "'patch.dat' corrupted, can't continue."},
    {PATCH_OLD_UNREADABLE, FATAL_TITLE, "Can't read old version file"},
    {PATCH_NEW_UNREADABLE, FATAL_TITLE, "Can't read new version file"},
    {PATCH_OUTPUT_IS_INPUT, FATAL_TITLE,
     "Patch file can't replace the old or new version file"},
    {PATCH_OUTPUT_FAILED, FATAL_TITLE, "Can't write patch file"},
};

// Everything one "Generate patch" run holds, released however it ends.
struct GenerateRun {
  PatchRequest request{};
  StringVar chosenPath = nullptr;
  StringVar patchPath = nullptr;

  ~GenerateRun() {
    for (const TextField& text : TEXT_FIELDS)
      FreeString(&(request.*text.field));
    FreeString(&request.OldPath);
    FreeString(&request.NewPath);
    FreeString(&chosenPath);
    FreeString(&patchPath);
  }
};

bool IsEmpty(const char* text) {
  return StringsEqual(text, "") != 0;
}

void ReadControl(int32_t id, StringVar* into) {
  char* start = ScratchCursor;
  GetControlText(id);
  StoreString(into, start);
}

// Reads all nine texts and reports each empty one; true when none was.
bool ReadTexts(PatchRequest* request) {
  bool complete = true;
  for (const TextField& text : TEXT_FIELDS) {
    ReadControl(text.id, &(request->*text.field));
    if (IsEmpty(request->*text.field)) {
      MessageBoxOk(ERROR_TITLE, text.emptyMessage);
      complete = false;
    }
  }
  return complete;
}

// An input must name a file of at least one byte (not a directory).
bool ReadInputPath(int32_t id, StringVar* path, const char* missingMessage) {
  ReadControl(id, path);
  if (IsEmpty(*path) || QueryFileSize(*path) < 1) {
    MessageBoxOk(FATAL_TITLE, missingMessage);
    return false;
  }
  return true;
}

bool HasPatchExtension(const char* path) {
  char* start = ScratchCursor;
  ToLowerCase(path, start);
  RightPart(start, PATCH_EXTENSION_LENGTH, start);
  bool has = StringsEqual(start, PATCH_EXTENSION) != 0;
  ScratchCursor = start;
  return has;
}

// The chosen path as chosen, with ".exe" added unless it ends so in any case.
void CompletePatchPath(const char* chosen, StringVar* patchPath) {
  bool complete = HasPatchExtension(chosen);
  char* start = ScratchCursor;
  ScratchPut(start, "", 0);
  AppendString(chosen);
  if (!complete)
    AppendString(PATCH_EXTENSION);
  StoreString(patchPath, start);
}

void ReportProgress(int32_t percent) {
  SetControlValue(ID_PROGRESS, percent);
}

void TellOutcome(PatchOutcome outcome) {
  for (const OutcomeMessage& message : OUTCOME_MESSAGES) {
    if (message.outcome == outcome)
      MessageBoxOk(message.title, message.text);
  }
}

void ChooseInto(const char* title, int32_t field) {
  char* start = ScratchCursor;
  ChooseOpenFile(title, "", EXE_FILTER, OPEN_PATTERN);
  if (!IsEmpty(start))
    SetControlText(field, start);
  ScratchCursor = start;
}

}  // namespace

void CollectPatchRequest() {
  GenerateRun run;
  if (!ReadTexts(&run.request) &&
      MessageBoxTyped(ERROR_TITLE, CONTINUE_QUESTION, MB_TYPE_YES_NO) == ANSWER_NO)
    return;
  if (!ReadInputPath(ID_OLD_FILE, &run.request.OldPath, "Old version file not found") ||
      !ReadInputPath(ID_NEW_FILE, &run.request.NewPath, "New version file not found"))
    return;

  char* start = ScratchCursor;
  ChooseSaveFile(SAVE_TITLE, DEFAULT_PATCH_NAME, EXE_FILTER, SAVE_PATTERN);
  StoreString(&run.chosenPath, start);
  if (IsEmpty(run.chosenPath))
    return;
  CompletePatchPath(run.chosenPath, &run.patchPath);

  TellOutcome(GeneratePatch(&run.request, run.patchPath, ReportProgress));
}

void ChooseOldFile() {
  ChooseInto("Choose old version executable file ", ID_OLD_FILE);
}

void ChooseNewFile() {
  ChooseInto("Choose new version executable file ", ID_NEW_FILE);
}
