#include "rt/strings.h"

#include <cstring>

#include "rt/heaps.h"

char* ScratchCursor;

namespace {

char* ScratchBegin;
char* ScratchLast;  // the buffer's last byte, kept for a final NUL

const char* OrEmpty(const char* s) {
  return s ? s : "";
}

bool IsSpace(char c) {
  return c == ' ';
}

// Copies count bytes forward, mapping each one, then terminates. Forward
// copying lets the destination be the source's own start.
template <typename Map>
char* PutMapped(char* destination, const char* source, size_t count, Map map) {
  size_t room = ScratchRoom(destination);
  if (count > room)
    count = room;
  for (size_t i = 0; i < count; i++)
    destination[i] = map(static_cast<unsigned char>(source[i]));
  if (destination >= ScratchBegin && destination <= ScratchLast) {
    destination[count] = '\0';
    ScratchCursor = destination + count;
  }
  return destination;
}

// The digits of value in base 10 or 16 (capitals), after a minus sign when
// negative is set. Written here rather than by the system's formatting, so
// that the runtime needs no window library.
char* FormatNumber(uint32_t value, uint32_t base, bool negative, char* destination) {
  char text[12];
  char* first = text + sizeof text;
  do {
    *--first = "0123456789ABCDEF"[value % base];
    value /= base;
  } while (value != 0);
  if (negative)
    *--first = '-';
  return ScratchPut(destination, first, static_cast<size_t>(text + sizeof text - first));
}

int Compare(const char* a, const char* b) {
  const auto* x = reinterpret_cast<const unsigned char*>(OrEmpty(a));
  const auto* y = reinterpret_cast<const unsigned char*>(OrEmpty(b));
  while (*x != 0 && *x == *y) {
    x++;
    y++;
  }
  return *x - *y;
}

// Frees the fields a descriptor names (or, for a null record, only walks
// it) and returns the entry after its end mark.
const int32_t* FreeFields(unsigned char* record, const int32_t* entry) {
  while (*entry != FIELDS_END) {
    if (*entry == FIELDS_ARRAY) {
      int32_t count = entry[1], offset = entry[2], size = entry[3];
      const int32_t* element = entry + 4;
      entry = FreeFields(nullptr, element);
      for (int32_t i = 0; record != nullptr && i < count; i++)
        FreeFields(record + offset + i * size, element);
      continue;
    }
    if (record != nullptr)
      FreeString(reinterpret_cast<StringVar*>(record + *entry));
    entry++;
  }
  return entry + 1;
}

}  // namespace

char* InitScratchBuffer() {
  if (ScratchCursor == nullptr) {
    ScratchBegin = static_cast<char*>(MainAllocZero(SCRATCH_SIZE));
    ScratchLast = ScratchBegin ? ScratchBegin + SCRATCH_SIZE - 1 : nullptr;
    ScratchCursor = ScratchBegin;
  }
  return ScratchCursor;
}

size_t ScratchRoom(const char* destination) {
  if (ScratchBegin == nullptr || destination < ScratchBegin || destination > ScratchLast)
    return 0;
  return static_cast<size_t>(ScratchLast - destination);
}

char* ScratchPut(char* destination, const char* bytes, size_t count) {
  size_t room = ScratchRoom(destination);
  if (count > room)
    count = room;
  if (destination >= ScratchBegin && destination <= ScratchLast) {
    std::memmove(destination, bytes, count);
    destination[count] = '\0';
    ScratchCursor = destination + count;
  }
  return destination;
}

void StoreString(StringVar* variable, char* start) {
  MainFree(*variable);
  size_t length = 0;
  while (start + length < ScratchCursor && start[length] != '\0')
    length++;
  *variable = static_cast<char*>(MainAlloc(length + 1));
  ScratchCursor = start;
  if (*variable != nullptr) {
    std::memcpy(*variable, start, length);
    (*variable)[length] = '\0';
  }
}

void FreeString(StringVar* variable) {
  MainFree(*variable);
  *variable = nullptr;
}

void AssignText(StringVar* variable, const char* text) {
  FreeString(variable);
  if (text == nullptr)
    return;
  size_t size = std::strlen(text) + 1;
  *variable = static_cast<char*>(MainAlloc(size));
  if (*variable != nullptr)
    std::memcpy(*variable, text, size);
}

int StringsEqual(const char* a, const char* b) {
  return Compare(a, b) == 0;
}
int StringGreater(const char* a, const char* b) {
  return Compare(a, b) > 0;
}
int StringLess(const char* a, const char* b) {
  return Compare(a, b) < 0;
}

int32_t StringLength(const char* s) {
  return static_cast<int32_t>(std::strlen(OrEmpty(s)));
}

int32_t FirstCharCode(const char* s) {
  return static_cast<unsigned char>(OrEmpty(s)[0]);
}

int32_t ParseInteger(const char* s) {
  s = OrEmpty(s);
  while (IsSpace(*s))
    s++;
  bool negative = *s == '-';
  if (*s == '-' || *s == '+')
    s++;
  uint32_t value = 0;
  for (; *s >= '0' && *s <= '9'; s++)
    value = value * 10 + static_cast<uint32_t>(*s - '0');
  return static_cast<int32_t>(negative ? 0u - value : value);
}

void AppendString(const char* text) {
  if (text != nullptr)
    ScratchPut(ScratchCursor, text, std::strlen(text));
}

char* ToLowerCase(const char* source, char* destination) {
  source = OrEmpty(source);
  return PutMapped(destination, source, std::strlen(source), [](unsigned char c) {
    bool upper = (c >= 0x41 && c <= 0x5A) || (c >= 0xC0 && c <= 0xDE);
    return static_cast<char>(upper ? c + 0x20 : c);
  });
}

char* ToUpperCase(const char* source, char* destination) {
  source = OrEmpty(source);
  return PutMapped(destination, source, std::strlen(source), [](unsigned char c) {
    bool lower = (c >= 0x61 && c <= 0x7A) || c >= 0xE0;
    return static_cast<char>(lower ? c - 0x20 : c);
  });
}

char* LeftPart(const char* source, int32_t n, char* destination) {
  size_t length = std::strlen(OrEmpty(source));
  size_t count = n <= 0 ? 0 : (static_cast<size_t>(n) < length ? n : length);
  return ScratchPut(destination, OrEmpty(source), count);
}

char* RightPart(const char* source, int32_t n, char* destination) {
  source = OrEmpty(source);
  size_t length = std::strlen(source);
  size_t count = n <= 0 ? 0 : (static_cast<size_t>(n) < length ? n : length);
  return ScratchPut(destination, source + length - count, count);
}

char* MiddlePart(const char* source, int32_t start, int32_t n, char* destination) {
  source = OrEmpty(source);
  size_t length = std::strlen(source);
  size_t first = start <= 1 ? 0 : static_cast<size_t>(start) - 1;
  if (n <= 0 || first >= length)
    return ScratchPut(destination, "", 0);
  size_t count = length - first;
  if (static_cast<size_t>(n) < count)
    count = n;
  return ScratchPut(destination, source + first, count);
}

char* TrimLeading(const char* source, char* destination) {
  source = OrEmpty(source);
  while (IsSpace(*source))
    source++;
  return ScratchPut(destination, source, std::strlen(source));
}

char* TrimTrailing(const char* source, char* destination) {
  source = OrEmpty(source);
  size_t length = std::strlen(source);
  while (length > 0 && IsSpace(source[length - 1]))
    length--;
  return ScratchPut(destination, source, length);
}

char* TrimBoth(const char* source, char* destination) {
  source = OrEmpty(source);
  while (IsSpace(*source))
    source++;
  return TrimTrailing(source, destination);
}

char* SpaceString(int32_t n, char* destination) {
  size_t count = n <= 0 ? 0 : static_cast<size_t>(n);
  if (count > ScratchRoom(destination))
    count = ScratchRoom(destination);
  if (count > 0)
    std::memset(destination, ' ', count);
  return ScratchPut(destination, destination, count);
}

char* CharString(int32_t code, char* destination) {
  char c = static_cast<char>(code);
  return ScratchPut(destination, &c, 1);
}

char* FormatDecimal(int32_t value, char* destination) {
  auto bits = static_cast<uint32_t>(value);
  return FormatNumber(value < 0 ? 0u - bits : bits, 10, value < 0, destination);
}

char* FormatHex(int32_t value, char* destination) {
  return FormatNumber(static_cast<uint32_t>(value), 16, false, destination);
}

char* FormatUnsignedDecimal(int32_t value, int32_t width, char* destination) {
  uint32_t bits = static_cast<uint32_t>(value);
  if (width == 0)
    bits &= 0xFF;
  else if (width == 1)
    bits &= 0xFFFF;
  return FormatNumber(bits, 10, false, destination);
}

char* PathFileName(const char* path) {
  char* start = ScratchCursor;
  if (path == nullptr)
    return ScratchPut(start, "", 0);
  const char* name = path[0] == '"' ? path + 1 : path;
  for (const char* p = path; *p != '\0'; p++) {
    if (*p == '\\')
      name = p + 1;
  }
  const char* quote = std::strchr(name, '"');
  size_t length = quote ? static_cast<size_t>(quote - name) : std::strlen(name);
  return ScratchPut(start, name, length);
}

void FreeRecordStrings(void* record, const int32_t* descriptor) {
  FreeFields(static_cast<unsigned char*>(record), descriptor);
}
