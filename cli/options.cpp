#include "cli/options.h"

#include <cstring>
#include <iterator>

#include "app/request.h"
#include "rt/files.h"
#include "rt/heaps.h"
#include "rt/strings.h"

namespace {

// The most a field of the form gives; a longer text could not have come
// from the form, and the patch would carry what the form never writes.
constexpr size_t TEXT_LIMIT = 31999;
constexpr char OPTION_PREFIX[] = "--";
constexpr size_t OPTION_PREFIX_LENGTH = 2;
constexpr char UTF8_MARK[] = "\xEF\xBB\xBF";
constexpr size_t UTF8_MARK_LENGTH = 3;
constexpr int32_t TEXT_COUNT = static_cast<int32_t>(std::size(REQUEST_TEXTS));

struct FlagOption {
  const char* name;
  bool CommandLine::*field;
};

constexpr FlagOption FLAGS[] = {
    {"allow-empty", &CommandLine::allowEmpty},
    {"compact", &CommandLine::compact},
    {"quiet", &CommandLine::quiet},
    {"help", &CommandLine::help},
    {"version", &CommandLine::version},
};

struct PathOption {
  const char* name;
  StringVar* (*place)(CommandLine* line);
};

constexpr PathOption PATHS[] = {
    {"old", [](CommandLine* line) { return &line->request.OldPath; }},
    {"new", [](CommandLine* line) { return &line->request.NewPath; }},
    {"out", [](CommandLine* line) { return &line->outPath; }},
    {"stub", [](CommandLine* line) { return &line->stubPath; }},
    {"texts", [](CommandLine* line) { return &line->textsPath; }},
    {"verify", [](CommandLine* line) { return &line->verifyPath; }},
};
constexpr int32_t REQUIRED_PATHS = 3;  // the first three
constexpr int32_t OLD_PATH = 0;
constexpr int32_t VERIFY_PATH = 5;
constexpr int32_t PATH_COUNT = static_cast<int32_t>(std::size(PATHS));

// What one reading holds besides the record: where each text came from,
// since the command line wins over the texts file and either over the form's
// initial text, and which paths were given.
struct Reading {
  CommandLine* line;
  bool textOnCommandLine[TEXT_COUNT];
  bool textInFile[TEXT_COUNT];
  bool pathGiven[PATH_COUNT];
};

// Stores "what" followed by "detail" as the usage error; returns false so
// that callers can end with it.
bool Refuse(CommandLine* line, const char* what, const char* detail = "") {
  char* start = ScratchCursor;
  ScratchPut(start, "", 0);
  AppendString(what);
  AppendString(detail);
  StoreString(&line->usageError, start);
  return false;
}

// The detail is a part of the line, which has no NUL of its own.
bool RefuseAtLine(CommandLine* line, int32_t number, const char* what, const char* detail,
                  size_t detailLength) {
  char* start = ScratchCursor;
  ScratchPut(start, "", 0);
  AppendString("Texts file line ");
  FormatDecimal(number, ScratchCursor);
  AppendString(": ");
  AppendString(what);
  ScratchPut(ScratchCursor, detail, detailLength);
  StoreString(&line->usageError, start);
  return false;
}

int32_t FindText(const char* name, size_t length) {
  for (int32_t i = 0; i < TEXT_COUNT; i++)
    if (std::strlen(REQUEST_TEXTS[i].name) == length &&
        std::memcmp(REQUEST_TEXTS[i].name, name, length) == 0)
      return i;
  return -1;
}

// A payload line ends at CR LF, and the stub reads texts as lines.
const char* TextFault(const char* text, size_t length) {
  if (length > TEXT_LIMIT)
    return "text longer than 31999 bytes: ";
  if (std::memchr(text, '\r', length) != nullptr ||
      std::memchr(text, '\n', length) != nullptr)
    return "text holds a line break: ";
  return nullptr;
}

void StoreBytes(StringVar* into, const char* bytes, size_t length) {
  char* start = ScratchCursor;
  ScratchPut(start, bytes, length);
  StoreString(into, start);
}

bool TakeText(Reading* reading, int32_t index, const char* value) {
  const char* fault = TextFault(value, std::strlen(value));
  if (fault != nullptr)
    return Refuse(reading->line, fault, REQUEST_TEXTS[index].name);
  AssignText(&(reading->line->request.*REQUEST_TEXTS[index].field), value);
  reading->textOnCommandLine[index] = true;
  return true;
}

int32_t FindPath(const char* name) {
  for (int32_t i = 0; i < PATH_COUNT; i++)
    if (std::strcmp(PATHS[i].name, name) == 0)
      return i;
  return -1;
}

// One option and, for a valued one, its value; *used counts the arguments
// taken.
bool TakeOption(Reading* reading, std::span<const char* const> rest, size_t* used) {
  const char* argument = rest[0];
  if (std::strncmp(argument, OPTION_PREFIX, OPTION_PREFIX_LENGTH) != 0)
    return Refuse(reading->line, "Not an option: ", argument);
  const char* name = argument + OPTION_PREFIX_LENGTH;
  *used = 1;
  for (const FlagOption& flag : FLAGS) {
    if (std::strcmp(flag.name, name) == 0) {
      reading->line->*flag.field = true;
      return true;
    }
  }
  int32_t text = FindText(name, std::strlen(name));
  int32_t path = FindPath(name);
  if (text < 0 && path < 0)
    return Refuse(reading->line, "Unknown option: ", argument);
  if (rest.size() < 2)
    return Refuse(reading->line, "No value after ", argument);
  *used = 2;
  if (text >= 0)
    return TakeText(reading, text, rest[1]);
  AssignText(PATHS[path].place(reading->line), rest[1]);
  reading->pathGiven[path] = true;
  return true;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// name=value; blank lines and lines whose first other character is '#'
// are skipped. The name may be surrounded by blanks, the value is taken
// as it stands, since a text of spaces is a text.
bool TakeTextsLine(Reading* reading, const char* text, size_t length, int32_t number) {
  size_t first = 0;
  while (first < length && IsBlank(text[first]))
    first++;
  if (first == length || text[first] == '#')
    return true;
  const char* equals = static_cast<const char*>(std::memchr(text, '=', length));
  if (equals == nullptr)
    return RefuseAtLine(reading->line, number, "no '=' in it", "", 0);
  size_t nameEnd = static_cast<size_t>(equals - text);
  while (nameEnd > first && IsBlank(text[nameEnd - 1]))
    nameEnd--;
  int32_t index = FindText(text + first, nameEnd - first);
  if (index < 0)
    return RefuseAtLine(reading->line, number, "unknown text name ", text + first,
                        nameEnd - first);
  const char* value = equals + 1;
  size_t valueLength = length - static_cast<size_t>(value - text);
  const char* fault = TextFault(value, valueLength);
  if (fault != nullptr)
    return RefuseAtLine(reading->line, number, fault, REQUEST_TEXTS[index].name,
                        std::strlen(REQUEST_TEXTS[index].name));
  reading->textInFile[index] = true;
  if (!reading->textOnCommandLine[index])
    StoreBytes(&(reading->line->request.*REQUEST_TEXTS[index].field), value, valueLength);
  return true;
}

// Lines end at LF, with or without a CR before it. The bytes are taken as
// the form's fields give them, in the system code page: a file marked as
// UTF-8 would put other characters into the patch than the author wrote.
bool TakeTextsBytes(Reading* reading, const char* bytes, size_t count) {
  if (std::memchr(bytes, '\0', count) != nullptr)
    return Refuse(reading->line,
                  "Texts file holds a NUL byte: ", reading->line->textsPath);
  if (count >= UTF8_MARK_LENGTH && std::memcmp(bytes, UTF8_MARK, UTF8_MARK_LENGTH) == 0)
    return Refuse(reading->line, "Texts file is UTF-8, not in the system code page: ",
                  reading->line->textsPath);
  int32_t number = 1;
  for (size_t start = 0; start < count; number++) {
    const char* end =
        static_cast<const char*>(std::memchr(bytes + start, '\n', count - start));
    size_t stop = end != nullptr ? static_cast<size_t>(end - bytes) : count;
    size_t length = stop - start;
    if (length > 0 && bytes[start + length - 1] == '\r')
      length--;
    if (!TakeTextsLine(reading, bytes + start, length, number))
      return false;
    start = stop + 1;
  }
  return true;
}

bool ReadTextsFile(Reading* reading) {
  const char* path = reading->line->textsPath;
  int32_t file = OpenForRead(-1, path);
  int32_t size = file != 0 ? GetFileLength() : -1;
  char* bytes =
      size >= 0 ? static_cast<char*>(MainAlloc(static_cast<size_t>(size) + 1)) : nullptr;
  bool read = bytes != nullptr && (size == 0 || ReadFileBlock(bytes, size) == size);
  if (file != 0)
    CloseFileSlot(file);
  bool taken = read ? TakeTextsBytes(reading, bytes, static_cast<size_t>(size))
                    : Refuse(reading->line, "Can't read texts file ", path);
  MainFree(bytes);
  return taken;
}

void TakeInitialTexts(Reading* reading) {
  for (int32_t i = 0; i < TEXT_COUNT; i++) {
    StringVar* text = &(reading->line->request.*REQUEST_TEXTS[i].field);
    if (!reading->textOnCommandLine[i] && !reading->textInFile[i])
      AssignText(text, REQUEST_TEXTS[i].initialText);
  }
}

// A check reads a finished patch and makes nothing: options that shape a
// patch would be ignored, so they are refused.
bool OnlyVerifying(const Reading* reading) {
  CommandLine* line = reading->line;
  bool shaping = line->allowEmpty || line->compact || line->textsPath != nullptr;
  for (int32_t i = 0; i < TEXT_COUNT; i++)
    shaping = shaping || reading->textOnCommandLine[i];
  for (int32_t i = 0; i < PATH_COUNT; i++)
    shaping = shaping || (reading->pathGiven[i] && i != OLD_PATH && i != VERIFY_PATH);
  return !shaping || Refuse(line, "--verify takes only --old and --quiet beside it");
}

}  // namespace

bool ReadCommandLine(std::span<const char* const> arguments, CommandLine* line) {
  Reading reading{line, {}, {}, {}};
  for (size_t at = 0, used = 0; at < arguments.size(); at += used) {
    if (!TakeOption(&reading, arguments.subspan(at), &used))
      return false;
    if (line->help || line->version)
      return true;
  }
  if (line->verifyPath != nullptr)
    return OnlyVerifying(&reading);
  for (int32_t i = 0; i < REQUIRED_PATHS; i++)
    if (!reading.pathGiven[i])
      return Refuse(line, "--old, --new and --out are required (see --help)");
  if (line->textsPath != nullptr && !ReadTextsFile(&reading))
    return false;
  TakeInitialTexts(&reading);
  return true;
}

void FreeCommandLine(CommandLine* line) {
  FreeRequest(&line->request);
  FreeString(&line->outPath);
  FreeString(&line->stubPath);
  FreeString(&line->textsPath);
  FreeString(&line->verifyPath);
  FreeString(&line->usageError);
}
