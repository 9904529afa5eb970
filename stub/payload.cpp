// The patch behind the stub's own image, read through the shared reader:
// its lines once at start, its stream when an install decodes it. The
// patch file is opened for each of the two and closed again.
#include "stub/stub.h"

PatchReader ThePatch;

namespace {

// The files of one reading and why the last write failed.
struct StubFiles {
  char patchPath[PATH_LIMIT];
  HANDLE patch;
  HANDLE old;
  HANDLE out;
  DWORD writeError;
  ProgressReport progress;  // the install's, while it decodes
};

StubFiles TheFiles;

bool ReadAt(HANDLE file, int64_t offset, uint8_t* bytes, int32_t count, DWORD* read) {
  LARGE_INTEGER at;
  at.QuadPart = offset;
  *read = 0;
  return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
         ReadFile(file, bytes, static_cast<DWORD>(count), read, nullptr);
}

int32_t ReadPatch(void*, int64_t offset, uint8_t* bytes, int32_t count) {
  DWORD read;
  return ReadAt(TheFiles.patch, offset, bytes, count, &read) ? static_cast<int32_t>(read)
                                                             : -1;
}

bool ReadOld(void*, int32_t offset, uint8_t* bytes, int32_t count) {
  DWORD read;
  return ReadAt(TheFiles.old, offset, bytes, count, &read) &&
         read == static_cast<DWORD>(count);
}

// A write that stops short without an error means the disk is full.
bool WriteNew(void*, const uint8_t* bytes, int32_t count) {
  DWORD written = 0;
  bool wrote = WriteFile(TheFiles.out, bytes, static_cast<DWORD>(count), &written, nullptr);
  TheFiles.writeError = wrote ? ERROR_DISK_FULL : GetLastError();
  return wrote && written == static_cast<DWORD>(count);
}

void ReportProgress(int32_t percent) {
  if (TheFiles.progress != nullptr)
    TheFiles.progress(percent);
}

// One set for both readings: a copy made at run time would cost the stub a
// section of its own for the copy's pattern.
const PatchIo STUB_IO{nullptr, ReadPatch, ReadOld, WriteNew, ReportProgress};

HANDLE OpenPatchFile() {
  return CreateFileA(TheFiles.patchPath, GENERIC_READ, FILE_SHARE_READ, nullptr,
                     OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

}  // namespace

bool LoadPayload(const char* patchPath) {
  if (lstrlenA(patchPath) >= PATH_LIMIT)
    return false;
  lstrcpyA(TheFiles.patchPath, patchPath);
  TheFiles.patch = OpenPatchFile();
  LARGE_INTEGER size;
  bool read = TheFiles.patch != INVALID_HANDLE_VALUE &&
              GetFileSizeEx(TheFiles.patch, &size) &&
              OpenPatch(&ThePatch, &STUB_IO, size.QuadPart) == READ_DONE;
  if (TheFiles.patch != INVALID_HANDLE_VALUE)
    CloseHandle(TheFiles.patch);
  return read;
}

ReadResult DecodeNewVersion(HANDLE oldFile, HANDLE out, ProgressReport progress,
                            DWORD* writeError) {
  TheFiles.patch = OpenPatchFile();
  TheFiles.old = oldFile;
  TheFiles.out = out;
  TheFiles.progress = progress;
  ReadResult result = TheFiles.patch == INVALID_HANDLE_VALUE
                          ? READ_PATCH_UNREADABLE
                          : DecodePatchStream(&ThePatch, &STUB_IO);
  if (TheFiles.patch != INVALID_HANDLE_VALUE)
    CloseHandle(TheFiles.patch);
  *writeError = TheFiles.writeError;
  return result;
}
