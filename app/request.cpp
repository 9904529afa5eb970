#include "app/request.h"

#include <iterator>

#include "format/payload.h"
#include "rt/files.h"
#include "rt/strings.h"

namespace {

struct InputFile {
  StringVar PatchRequest::*field;
  const char* missingMessage;
  RequestRefusal refusal;
};

constexpr InputFile INPUT_FILES[] = {
    {&PatchRequest::OldPath, "Old version file not found", REQUEST_OLD_MISSING},
    {&PatchRequest::NewPath, "New version file not found", REQUEST_NEW_MISSING},
};

// In RequestRefusal order.
constexpr int32_t REFUSAL_EXIT_CODES[] = {0, 2, 3, 4, 10};
static_assert(std::size(REFUSAL_EXIT_CODES) == REQUEST_OLD_NAME_UNUSABLE + 1);

struct OutcomeRow {
  PatchOutcome outcome;
  const char* title;
  const char* text;
  int32_t exitCode;
};

// One row per outcome. An outcome without a row is told as a failed write,
// never as a success.
constexpr OutcomeRow OUTCOMES[] = {
    {PATCH_WRITTEN, "Done!", "Process done", 0},
    {PATCH_STUB_REJECTED, FATAL_TITLE, "'patch.dat' corrupted, can't continue.", 5},
    {PATCH_OUTPUT_IS_INPUT, FATAL_TITLE,
     "Patch file can't replace the old or new version file", 6},
    {PATCH_OLD_UNREADABLE, FATAL_TITLE, "Can't read old version file", 7},
    {PATCH_NEW_UNREADABLE, FATAL_TITLE, "Can't read new version file", 8},
    {PATCH_OUTPUT_FAILED, FATAL_TITLE, "Can't write patch file", 9},
    {PATCH_OLD_CHANGED, FATAL_TITLE, "Old version file changed while the patch was made",
     11},
    {PATCH_NEW_CHANGED, FATAL_TITLE, "New version file changed while the patch was made",
     12},
    {PATCH_CHECK_FAILED, FATAL_TITLE, "Written patch failed its check", 13},
    {PATCH_TOO_LARGE_FOR_COMPACT, FATAL_TITLE,
     "Files too large for a compact patch: make a plain one", 14},
    {PATCH_STUB_WITHOUT_COMPACT, FATAL_TITLE,
     "'patch.dat' can't apply compact patches: use the one that came with this tool, "
     "or make a plain patch",
     15},
};

constexpr size_t RowIndex(PatchOutcome outcome) {
  size_t i = 0;
  while (i < std::size(OUTCOMES) && OUTCOMES[i].outcome != outcome)
    i++;
  return i;
}
constexpr size_t UNLISTED_ROW = RowIndex(PATCH_OUTPUT_FAILED);
static_assert(UNLISTED_ROW < std::size(OUTCOMES));

// A script tells the ends apart by their codes alone.
constexpr bool ExitCodesDistinct() {
  int32_t codes[std::size(REFUSAL_EXIT_CODES) + std::size(OUTCOMES)] = {};
  size_t count = 0;
  for (size_t i = REQUEST_TEXT_EMPTY; i < std::size(REFUSAL_EXIT_CODES); i++)
    codes[count++] = REFUSAL_EXIT_CODES[i];
  for (const OutcomeRow& row : OUTCOMES)
    codes[count++] = row.exitCode;
  for (size_t i = 0; i < count; i++) {
    if (codes[i] == EXIT_USAGE)
      return false;
    for (size_t j = 0; j < i; j++)
      if (codes[i] == codes[j])
        return false;
  }
  return true;
}
static_assert(ExitCodesDistinct());

const OutcomeRow& RowOf(PatchOutcome outcome) {
  size_t i = RowIndex(outcome);
  return OUTCOMES[i < std::size(OUTCOMES) ? i : UNLISTED_ROW];
}

bool IsEmpty(const char* text) {
  return StringsEqual(text, "") != 0;
}

}  // namespace

void FreeRequest(PatchRequest* request) {
  for (const RequestText& text : REQUEST_TEXTS)
    FreeString(&(request->*text.field));
  FreeString(&request->OldPath);
  FreeString(&request->NewPath);
}

RequestRefusal CheckTexts(const PatchRequest* request, MessageReport report) {
  RequestRefusal refusal = REQUEST_ACCEPTED;
  for (const RequestText& text : REQUEST_TEXTS) {
    if (IsEmpty(request->*text.field)) {
      report(ERROR_TITLE, text.emptyMessage);
      refusal = REQUEST_TEXT_EMPTY;
    }
  }
  return refusal;
}

RequestRefusal CheckInputFiles(const PatchRequest* request, MessageReport report) {
  for (const InputFile& input : INPUT_FILES) {
    const char* path = request->*input.field;
    if (IsEmpty(path) || QueryFileSize(path) < 1) {
      report(FATAL_TITLE, input.missingMessage);
      return input.refusal;
    }
  }
  // The name line holds the path cut at its last backslash; the stub takes
  // the name after any separator and refuses one that could lead its writes
  // out of the folder or past the path limit.
  ScratchMark mark;
  if (!FileNameAcceptable(PayloadFileName(PathFileName(request->OldPath)))) {
    report(FATAL_TITLE, "Old version file name can't be used in a patch");
    return REQUEST_OLD_NAME_UNUSABLE;
  }
  return REQUEST_ACCEPTED;
}

void ReportOutcome(PatchOutcome outcome, MessageReport report) {
  const OutcomeRow& row = RowOf(outcome);
  report(row.title, row.text);
}

int32_t RefusalExitCode(RequestRefusal refusal) {
  return REFUSAL_EXIT_CODES[refusal];
}

int32_t OutcomeExitCode(PatchOutcome outcome) {
  return RowOf(outcome).exitCode;
}
