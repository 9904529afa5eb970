// Modal requesters: the common open and save file dialogs and message boxes.
//
// Every requester is owned by the foreground window when that window belongs
// to this process, and while it is up the calling thread's other visible,
// enabled top-level windows are disabled (ModalGuard). File dialogs return a
// string result at the ScratchCursor (rt/strings.h): the chosen path, or the
// empty string on cancel or failure, in which case the cursor does not move.
// A filter is "description|pattern|description|pattern..."; pattern indexes
// count pairs from 0.
#pragma once

#include <cstdint>

constexpr int32_t DIALOG_PATH_SIZE = 10000;
constexpr int32_t MULTI_SELECT_FOLDER_SIZE = 256;
constexpr int32_t CHOOSE_MULTI_SELECT = 1;  // flag bit of ChooseOpenFileEx

// Message box types and answers used by the application.
constexpr int32_t MB_TYPE_OK = 0;
constexpr int32_t MB_TYPE_YES_NO = 4;
constexpr int32_t ANSWER_OK = 1;
constexpr int32_t ANSWER_YES = 6;
constexpr int32_t ANSWER_NO = 7;

void InitRequesters();

char* ChooseOpenFile(const char* title, const char* defaultPath, const char* filter,
                     int32_t patternIndex);
char* ChooseSaveFile(const char* title, const char* defaultPath, const char* filter,
                     int32_t patternIndex);
// With CHOOSE_MULTI_SELECT the result is the first chosen file's full path;
// NextMultiSelectName gives the others one by one, then the empty string.
char* ChooseOpenFileEx(const char* title, const char* defaultPath, const char* filter,
                       int32_t patternIndex, int32_t flags);
char* NextMultiSelectName();
// The pair chosen in the last successful file dialog, from 0; -1 before one.
int32_t ChosenPatternIndex();

// MessageBoxA's answer (0 when the box could not be shown).
int32_t MessageBoxTyped(const char* caption, const char* text, int32_t type);
int32_t MessageBoxOk(const char* caption, const char* text);
