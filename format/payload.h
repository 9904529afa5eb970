// The fourteen payload lines behind the stub: what the tool writes and
// what the patcher stub accepts, in one definition. Each line is its bytes
// and CR LF; no escaping, no length prefix.
//
// Pure computation on the caller's bytes, like format/stream.h.
#pragma once

#include <cstdint>

enum PayloadLine {
  LINE_WINDOW_TITLE,
  LINE_PROGRAM_TITLE,
  LINE_PROGRAM_DESCRIPTION,
  LINE_SYSTEM_NOTICE,
  LINE_FOLDER_TIP,
  LINE_DEFAULT_FOLDER,
  LINE_OPEN_BUTTON,
  LINE_INSTALL_BUTTON,
  LINE_EXIT_BUTTON,
  LINE_OLD_FINGERPRINT,  // 32 lowercase hexadecimal digits, or empty
  LINE_NEW_FINGERPRINT,
  LINE_OLD_SIZE,  // decimal, no sign, no leading zeros
  LINE_NEW_SIZE,
  LINE_OLD_NAME,  // the old file's path cut at its last backslash
  LINE_COUNT
};
constexpr int32_t TEXT_LINE_COUNT = LINE_OLD_FINGERPRINT;

// Bytes of one text line (and of the name line) before its CR LF: the
// form's fields hold at most 31999.
constexpr int32_t PAYLOAD_TEXT_LIMIT = 32000;
constexpr int32_t FINGERPRINT_LENGTH = 32;
// The longest file name taken from the name line: room is left for the
// folder and a backup's ".bak9" within the system's path limit.
constexpr int32_t FILE_NAME_LIMIT = 243;
// The most bytes the fourteen lines can take, CR LFs included.
constexpr int32_t PAYLOAD_LINES_LIMIT = (TEXT_LINE_COUNT + 1) * (PAYLOAD_TEXT_LIMIT + 2) +
                                        2 * (FINGERPRINT_LENGTH + 2) + 2 * (10 + 2);

// What the lines tell beyond the texts.
struct PayloadFacts {
  int32_t oldSize;
  int32_t newSize;
  const char* fileName;  // inside the name line
};

// Cuts bytes into LINE_COUNT lines in place, each ended by CR LF (which
// becomes a NUL) and free of NUL bytes. Returns the bytes the lines take,
// 0 when count bytes do not hold them.
int32_t SplitPayloadLines(char* bytes, int32_t count, const char* lines[LINE_COUNT]);

// Whether a text can be a line: at most PAYLOAD_TEXT_LIMIT bytes and no
// CR LF, which would end its line early and shift every line after it.
bool PayloadTextAcceptable(const char* text);

// Whether a stub accepts the lines: acceptable texts, fingerprints and
// sizes in their shapes, and a name line whose file name is acceptable.
// Fills facts (may be null) when it does.
bool ReadPayloadLines(const char* const lines[LINE_COUNT], PayloadFacts* facts);

// The file name a stub takes from the name line: the part after its last
// backslash, slash or colon.
const char* PayloadFileName(const char* line);

// Whether a file name keeps writes inside the folder it is joined to: not
// empty, ".", "..", a device name (CON, NUL, COM1, ... with or without an
// extension), no character the system forbids in names, no trailing dot or
// space, at most FILE_NAME_LIMIT bytes.
bool FileNameAcceptable(const char* name);
