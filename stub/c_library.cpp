// The two C library functions the shared code calls, for a stub that
// imports no C runtime. Built without turning loops into library calls,
// which here would call themselves.
#include <cstddef>

extern "C" size_t strlen(const char* s) {
  size_t n = 0;
  while (s[n] != '\0')
    n++;
  return n;
}

extern "C" void* memmove(void* destination, const void* source, size_t count) {
  unsigned char* to = static_cast<unsigned char*>(destination);
  const unsigned char* from = static_cast<const unsigned char*>(source);
  if (to < from)
    for (size_t i = 0; i < count; i++)
      to[i] = from[i];
  else
    while (count-- > 0)
      to[count] = from[count];
  return destination;
}
