#include "format/payload.h"

namespace {

constexpr char FORBIDDEN_IN_NAMES[] = "<>:\"/\\|?*";

// Device names the system opens as devices in any folder, whatever the
// extension; the digits include the code page's superscripts 1, 2 and 3.
constexpr const char* DEVICE_NAMES[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
constexpr const char* NUMBERED_DEVICES[] = {"COM", "LPT"};
constexpr char DEVICE_DIGITS[] = "123456789\xB9\xB2\xB3";

int32_t Length(const char* s) {
  int32_t n = 0;
  while (s[n] != '\0')
    n++;
  return n;
}

bool Contains(const char* set, char c) {
  for (; *set != '\0'; set++)
    if (*set == c)
      return true;
  return false;
}

char Upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c;
}

// Whether the first length bytes of s spell word, ignoring ASCII case.
bool SpellsWord(const char* s, int32_t length, const char* word) {
  int32_t i = 0;
  for (; i < length && word[i] != '\0'; i++)
    if (Upper(s[i]) != word[i])
      return false;
  return i == length && word[i] == '\0';
}

// The system ignores spaces before the extension: "CON .txt" is CON too.
bool IsDeviceName(const char* name) {
  int32_t base = 0;
  while (name[base] != '\0' && name[base] != '.')
    base++;
  while (base > 0 && name[base - 1] == ' ')
    base--;
  for (const char* device : DEVICE_NAMES)
    if (SpellsWord(name, base, device))
      return true;
  for (const char* device : NUMBERED_DEVICES)
    if (base == 4 && SpellsWord(name, 3, device) && Contains(DEVICE_DIGITS, name[3]))
      return true;
  return false;
}

bool IsLowerHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

bool FingerprintShaped(const char* s) {
  int32_t n = Length(s);
  for (int32_t i = 0; i < n; i++)
    if (!IsLowerHex(s[i]))
      return false;
  return n == 0 || n == FINGERPRINT_LENGTH;
}

// Decimal digits without sign or leading zeros, at most 2^31 - 1.
bool ReadSize(const char* s, int32_t* value) {
  if (s[0] == '\0' || (s[0] == '0' && s[1] != '\0'))
    return false;
  int64_t v = 0;
  for (; *s != '\0'; s++) {
    if (*s < '0' || *s > '9')
      return false;
    v = v * 10 + (*s - '0');
    if (v > INT32_MAX)
      return false;
  }
  *value = static_cast<int32_t>(v);
  return true;
}

}  // namespace

bool PayloadTextAcceptable(const char* text) {
  int32_t n = 0;
  for (; text[n] != '\0'; n++)
    if (text[n] == '\r' && text[n + 1] == '\n')
      return false;
  return n <= PAYLOAD_TEXT_LIMIT;
}

int32_t SplitPayloadLines(char* bytes, int32_t count, const char* lines[LINE_COUNT]) {
  int32_t start = 0;
  for (int i = 0; i < LINE_COUNT; i++) {
    int32_t end = start;
    while (end + 1 < count && !(bytes[end] == '\r' && bytes[end + 1] == '\n')) {
      if (bytes[end] == '\0')
        return 0;
      end++;
    }
    if (end + 1 >= count)
      return 0;
    bytes[end] = '\0';
    lines[i] = bytes + start;
    start = end + 2;
  }
  return start;
}

bool ReadPayloadLines(const char* const lines[LINE_COUNT], PayloadFacts* facts) {
  for (int i = 0; i < TEXT_LINE_COUNT; i++)
    if (!PayloadTextAcceptable(lines[i]))
      return false;
  PayloadFacts read{0, 0, PayloadFileName(lines[LINE_OLD_NAME])};
  bool shaped = FingerprintShaped(lines[LINE_OLD_FINGERPRINT]) &&
                FingerprintShaped(lines[LINE_NEW_FINGERPRINT]) &&
                ReadSize(lines[LINE_OLD_SIZE], &read.oldSize) &&
                ReadSize(lines[LINE_NEW_SIZE], &read.newSize) &&
                PayloadTextAcceptable(lines[LINE_OLD_NAME]) &&
                FileNameAcceptable(read.fileName);
  if (shaped && facts != nullptr)
    *facts = read;
  return shaped;
}

const char* PayloadFileName(const char* line) {
  const char* name = line;
  for (const char* s = line; *s != '\0'; s++)
    if (*s == '\\' || *s == '/' || *s == ':')
      name = s + 1;
  return name;
}

bool FileNameAcceptable(const char* name) {
  int32_t n = Length(name);
  if (n == 0 || n > FILE_NAME_LIMIT || name[n - 1] == '.' || name[n - 1] == ' ')
    return false;
  for (int32_t i = 0; i < n; i++)
    if (static_cast<unsigned char>(name[i]) < 32 || Contains(FORBIDDEN_IN_NAMES, name[i]))
      return false;
  return !IsDeviceName(name);
}
