// The checks a patch request passes before it is generated, and the words
// and exit codes for every way a request ends. The form and the console
// program share them, so that both refuse the same requests in the same
// order with the same texts. Nothing here shows anything: each message goes
// to the caller's report with the title and text of the form's message box.
#pragma once

#include <cstdint>

#include "app/form.h"
#include "app/patch.h"
#include "format/payload.h"

constexpr char ERROR_TITLE[] = "Error!";
constexpr char FATAL_TITLE[] = "Fatal error!";

using MessageReport = void (*)(const char* title, const char* text);

// One of the nine texts: its payload line, the form's field for it and the
// text that field starts with (also the console program's default), its
// name on the command line and in a texts file, and the message when it is
// empty.
struct RequestText {
  StringVar PatchRequest::*field;
  PayloadLine line;
  FormControl control;
  const char* initialText;
  const char* name;
  const char* emptyMessage;
};

// In payload order, which is also the order in which they are checked.
inline constexpr RequestText REQUEST_TEXTS[] = {
    {&PatchRequest::WindowTitle, LINE_WINDOW_TITLE, ID_WINDOW_TITLE, "", "window-title",
     "Window title is empty"},
    {&PatchRequest::ProgramTitle, LINE_PROGRAM_TITLE, ID_PROGRAM_TITLE, "",
     "program-title", "Program title is empty"},
    {&PatchRequest::ProgramDescription, LINE_PROGRAM_DESCRIPTION, ID_PROGRAM_DESCRIPTION,
     "", "program-description", "Program description is empty"},
    {&PatchRequest::SystemNotice, LINE_SYSTEM_NOTICE, ID_SYSTEM_NOTICE,
     "It is recomended that you close all other applications before continuing",
     "system-notice", "System notice is empty"},
    {&PatchRequest::FolderTip, LINE_FOLDER_TIP, ID_FOLDER_TIP,
     "Select the folder where you would like update to be installed, then click Install",
     "folder-tip", "FolderTip is empty"},
    {&PatchRequest::DefaultFolder, LINE_DEFAULT_FOLDER, ID_DEFAULT_FOLDER, "",
     "default-folder", "Default folder is empty"},
    {&PatchRequest::OpenButtonText, LINE_OPEN_BUTTON, ID_OPEN_BUTTON_TEXT, "Open",
     "open-button", "Button open is empty"},
    {&PatchRequest::InstallButtonText, LINE_INSTALL_BUTTON, ID_INSTALL_BUTTON_TEXT,
     "Install", "install-button", "Button install is empty"},
    {&PatchRequest::ExitButtonText, LINE_EXIT_BUTTON, ID_EXIT_BUTTON_TEXT, "Exit",
     "exit-button", "Button exit is empty"},
};

// The initial text of the form's field for a request text.
constexpr const char* InitialTextOf(FormControl control) {
  for (const RequestText& text : REQUEST_TEXTS)
    if (text.control == control)
      return text.initialText;
  return nullptr;
}

// Releases the request's eleven strings.
void FreeRequest(PatchRequest* request);

// Why a request is refused before generation, in the order of the checks.
enum RequestRefusal {
  REQUEST_ACCEPTED,
  REQUEST_TEXT_EMPTY,
  REQUEST_OLD_MISSING,
  REQUEST_NEW_MISSING,
  REQUEST_OLD_NAME_UNUSABLE,
};

// Reports every empty text, in order. A text is empty only when it has no
// byte at all: spaces are a text.
RequestRefusal CheckTexts(const PatchRequest* request, MessageReport report);

// Each input must name a file of at least one byte (not a folder); the old
// one is checked first and only the first missing one is reported.
// The old file's name must also be one the stub can write under, since it
// patches the file of that name in the folder the user picks.
RequestRefusal CheckInputFiles(const PatchRequest* request, MessageReport report);

void ReportOutcome(PatchOutcome outcome, MessageReport report);

// The console program's exit codes: 0 for a written patch, a code of its own
// for a usage error, for every refusal and for every other outcome.
constexpr int32_t EXIT_USAGE = 1;
int32_t RefusalExitCode(RequestRefusal refusal);
int32_t OutcomeExitCode(PatchOutcome outcome);
