#include "app/commands.h"

#include <atomic>
#include <cstdint>

#include "app/form.h"
#include "app/patch.h"
#include "app/request.h"
#include "gui/background.h"
#include "gui/controls.h"
#include "gui/events.h"
#include "gui/requesters.h"
#include "gui/window_table.h"
#include "rt/settings.h"
#include "rt/strings.h"

namespace {

constexpr char CONTINUE_QUESTION[] = "Found error. Continue anyway?";

constexpr char EXE_FILTER[] = "Executable files(*.exe)|*.exe";
constexpr int32_t OPEN_PATTERN = 0;
// The filter has one pair; 1 names none and leaves the choice to the dialog.
constexpr int32_t SAVE_PATTERN = 1;
constexpr char SAVE_TITLE[] = "Select patch executable file ";
constexpr char DEFAULT_PATCH_NAME[] = "patch.exe";
constexpr char PATCH_EXTENSION[] = ".exe";
constexpr int32_t PATCH_EXTENSION_LENGTH = 4;

constexpr char SETTINGS_KEY[] = "Software\\patchbuilder";
constexpr char COMPACT_SETTING[] = "CompactPatches";

// The window menu's choice.
bool CompactPatches;

// The last percentage the patch's work reported and this thread has not
// shown yet; the work writes it from its own thread.
constexpr int32_t NO_PROGRESS = -1;
std::atomic<int32_t> PendingProgress{NO_PROGRESS};

// Everything one "Generate patch" run holds, released however it ends.
struct GenerateRun {
  PatchRequest request{};
  StringVar chosenPath = nullptr;
  StringVar patchPath = nullptr;
  PatchFormat format = PATCH_PLAIN;
  PatchOutcome outcome = PATCH_OUTPUT_FAILED;

  ~GenerateRun() {
    FreeRequest(&request);
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

void ReadTexts(PatchRequest* request) {
  for (const RequestText& text : REQUEST_TEXTS)
    ReadControl(text.control, &(request->*text.field));
}

bool HasPatchExtension(const char* path) {
  ScratchMark mark;
  ToLowerCase(path, mark.start);
  RightPart(mark.start, PATCH_EXTENSION_LENGTH, mark.start);
  return StringsEqual(mark.start, PATCH_EXTENSION) != 0;
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

// Called on the work's thread, which must leave the controls alone.
void ReportProgress(int32_t percent) {
  PendingProgress = percent;
  WakeEventLoop();
}

void ShowPendingProgress() {
  int32_t percent = PendingProgress.exchange(NO_PROGRESS);
  if (percent != NO_PROGRESS)
    SetControlValue(ID_PROGRESS, percent);
}

void GenerateWork(void* context) {
  auto* run = static_cast<GenerateRun*>(context);
  run->outcome = GeneratePatch(&run->request, run->patchPath, ReportProgress,
                               STUB_FILE_NAME, run->format);
}

// The patch's work has the runtime's files and scratch buffer to itself
// meanwhile: this thread only takes events, which the busy form makes
// harmless (the close box's included), and moves the progress bar. Without
// a thread the work runs here, and the window waits for it.
void GenerateBesideTheLoop(GenerateRun* run) {
  SetFormBusy(true);
  if (StartBackgroundWork(GenerateWork, run)) {
    while (BackgroundWorkRunning()) {
      WaitEvent();
      ShowPendingProgress();
    }
  } else {
    GenerateWork(run);
  }
  ShowPendingProgress();
  SetFormBusy(false);
}

void ShowMessage(const char* title, const char* text) {
  MessageBoxOk(title, text);
}

void ChooseInto(const char* title, int32_t field) {
  ScratchMark mark;
  const char* chosen = ChooseOpenFile(title, "", EXE_FILTER, OPEN_PATTERN);
  if (!IsEmpty(chosen))
    SetControlText(field, chosen);
}

}  // namespace

void CollectPatchRequest() {
  GenerateRun run;
  ReadTexts(&run.request);
  if (CheckTexts(&run.request, ShowMessage) != REQUEST_ACCEPTED &&
      MessageBoxTyped(ERROR_TITLE, CONTINUE_QUESTION, MB_TYPE_YES_NO) == ANSWER_NO)
    return;
  ReadControl(ID_OLD_FILE, &run.request.OldPath);
  ReadControl(ID_NEW_FILE, &run.request.NewPath);
  if (CheckInputFiles(&run.request, ShowMessage) != REQUEST_ACCEPTED)
    return;

  char* start = ScratchCursor;
  ChooseSaveFile(SAVE_TITLE, DEFAULT_PATCH_NAME, EXE_FILTER, SAVE_PATTERN);
  StoreString(&run.chosenPath, start);
  if (IsEmpty(run.chosenPath))
    return;
  CompletePatchPath(run.chosenPath, &run.patchPath);

  run.format = CompactPatches ? PATCH_COMPACT : PATCH_PLAIN;
  GenerateBesideTheLoop(&run);
  ReportOutcome(run.outcome, ShowMessage);
}

void LoadCompactChoice() {
  CompactPatches = ReadUserNumber(SETTINGS_KEY, COMPACT_SETTING, 0) != 0;
  CheckWindowMenuItem(WIN_MAIN, CMD_COMPACT_PATCHES, CompactPatches);
}

// A choice the registry refuses to keep still holds until the tool ends.
void ToggleCompactPatches() {
  CompactPatches = !CompactPatches;
  WriteUserNumber(SETTINGS_KEY, COMPACT_SETTING, CompactPatches ? 1 : 0);
  CheckWindowMenuItem(WIN_MAIN, CMD_COMPACT_PATCHES, CompactPatches);
}

void ChooseOldFile() {
  ChooseInto("Choose old version executable file ", ID_OLD_FILE);
}

void ChooseNewFile() {
  ChooseInto("Choose new version executable file ", ID_NEW_FILE);
}
