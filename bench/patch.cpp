// Patch writer throughput on files in the page cache, against the work no
// writer can avoid (fingerprints, reading both inputs, writing the new
// file's size), against one runtime call per byte, and the MD5 core against
// the machine's md5sum (figures passed in by scripts/bench as
// PB_MD5_FILE, PB_MD5SUM_MBPS and PB_MD5SUM_DIGEST), and the stub's decoder
// in memory. Prints MB/s of new file; the last lines are the ratios, the
// peak memory and the read-back check's share of a whole run.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/patch.h"
#include "app/patch_hook.h"
#include "format/stream.h"
#include "rt/files.h"
#include "rt/fingerprints.h"
#include "rt/heaps.h"
#include "rt/strings.h"

namespace {

constexpr int32_t MIB = 1 << 20;
constexpr int32_t BIG_NEW = 64 * MIB;
constexpr int32_t BIG_OLD = 60 * MIB;
constexpr int32_t SMALL_NEW = MIB;
constexpr int32_t SMALL_OLD = 15 * MIB / 16;
constexpr int RUNS = 5;

constexpr int32_t SLOT_OLD = 1, SLOT_NEW = 2, SLOT_STUB = 3, SLOT_PATCH = 4;

double Now() {
  LARGE_INTEGER count, frequency;
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Mbps(double bytes, double seconds) { return bytes / 1e6 / seconds; }

uint32_t Random(uint32_t* state) {
  *state ^= *state << 13;
  *state ^= *state >> 17;
  *state ^= *state << 5;
  return *state;
}

void WriteAll(HANDLE file, const unsigned char* bytes, DWORD count) {
  DWORD written = 0;
  if (!WriteFile(file, bytes, count, &written, nullptr) || written != count) {
    std::fprintf(stderr, "bench: cannot write test data\n");
    std::exit(1);
  }
}

// An old file and a new one with about one byte in a hundred changed and
// random bytes past the old file's end; written in chunks, so that making
// them raises no memory peak.
void MakePair(const char* oldPath, const char* newPath, int32_t oldSize, int32_t newSize) {
  constexpr int32_t CHUNK = 256 * 1024;
  std::vector<unsigned char> old(CHUNK), now(CHUNK);
  uint32_t state = 2463534242u;
  HANDLE oldFile = CreateFileA(oldPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  HANDLE newFile = CreateFileA(newPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  for (int32_t done = 0; done < newSize; done += CHUNK) {
    int32_t count = newSize - done < CHUNK ? newSize - done : CHUNK;
    for (int32_t i = 0; i < count; i++) {
      old[i] = static_cast<unsigned char>(Random(&state));
      bool changed = done + i >= oldSize || Random(&state) % 100 == 0;
      now[i] = changed ? static_cast<unsigned char>(old[i] + 1 + Random(&state) % 255) : old[i];
    }
    int32_t oldCount = oldSize - done < count ? oldSize - done : count;
    if (oldCount > 0)
      WriteAll(oldFile, old.data(), oldCount);
    WriteAll(newFile, now.data(), count);
  }
  CloseHandle(oldFile);
  CloseHandle(newFile);
}

void MakeStub() {
  std::vector<unsigned char> stub(STUB_SIZE, 0x90);
  HANDLE file = CreateFileA(STUB_FILE_NAME, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  WriteAll(file, stub.data(), STUB_SIZE);
  CloseHandle(file);
}

void NoProgress(int32_t) {}

struct RunTimes {
  double whole;
  double check;  // from the written patch's close to the end: the read-back
};

double CheckStart;

// Into a fresh file, removed untimed afterwards, as the floor does with its
// own: discarding an older patch is not the writer's work.
RunTimes TimeGeneratePatch(const char* oldPath, const char* newPath) {
  PatchRequest request{};
  AssignText(&request.OldPath, oldPath);
  AssignText(&request.NewPath, newPath);
  BeforePatchProof = [](const char*) { CheckStart = Now(); };
  double start = Now();
  PatchOutcome outcome = GeneratePatch(&request, "out.exe", NoProgress);
  double end = Now();
  BeforePatchProof = nullptr;
  FreeString(&request.OldPath);
  FreeString(&request.NewPath);
  DeleteFileA("out.exe");
  if (outcome != PATCH_WRITTEN) {
    std::fprintf(stderr, "bench: GeneratePatch failed with %d\n", outcome);
    std::exit(1);
  }
  return {end - start, end - CheckStart};
}

void Fingerprint(const char* path) {
  char* start = ScratchCursor;
  FileMd5Hex(path);
  ScratchCursor = start;
}

// Both fingerprints, both inputs read and the new file's size written in
// the writer's block size, with nothing computed; flushed like the patch.
double TimeFloor(const char* oldPath, const char* newPath, int32_t oldSize, int32_t newSize) {
  std::vector<unsigned char> oldBytes(DIFF_BLOCK), newBytes(DIFF_BLOCK);
  double start = Now();
  Fingerprint(oldPath);
  Fingerprint(newPath);
  OpenForRead(SLOT_OLD, oldPath);
  OpenForRead(SLOT_NEW, newPath);
  CreateForWrite(SLOT_PATCH, "floor.bin");
  for (int32_t done = 0; done < newSize; done += DIFF_BLOCK) {
    int32_t count = newSize - done < DIFF_BLOCK ? newSize - done : DIFF_BLOCK;
    int32_t oldLeft = oldSize - done < count ? oldSize - done : count;
    SelectFile(SLOT_OLD);
    if (oldLeft > 0)
      ReadFileBlock(oldBytes.data(), oldLeft);
    SelectFile(SLOT_NEW);
    ReadFileBlock(newBytes.data(), count);
    SelectFile(SLOT_PATCH);
    WriteFileBlock(newBytes.data(), count);
  }
  FlushCurrentFile();
  CloseFileSlot(SLOT_PATCH);
  CloseFileSlot(SLOT_OLD);
  CloseFileSlot(SLOT_NEW);
  double seconds = Now() - start;
  DeleteFileA("floor.bin");
  return seconds;
}

// One runtime call per byte and per line, all through the CurrentFile.
double TimePerByte(const char* oldPath, const char* newPath) {
  double start = Now();
  OpenForRead(SLOT_OLD, oldPath);
  char* scratch = ScratchCursor;
  std::string oldFingerprint = FileMd5Hex(oldPath);
  int32_t oldSize = QueryFileSize(oldPath);
  OpenForRead(SLOT_NEW, newPath);
  std::string newFingerprint = FileMd5Hex(newPath);
  ScratchCursor = scratch;
  int32_t newSize = QueryFileSize(newPath);
  OpenForRead(SLOT_STUB, STUB_FILE_NAME);
  CreateForWrite(SLOT_PATCH, "perbyte.bin");
  for (int32_t i = 0; i < STUB_SIZE; i++) {
    SelectFile(SLOT_STUB);
    int32_t b = ReadFileByte();
    SelectFile(SLOT_PATCH);
    WriteFileByte(b);
  }
  SelectFile(SLOT_PATCH);
  for (int i = 0; i < 9; i++)
    WriteTextLine("text");
  WriteTextLine(oldFingerprint.c_str());
  WriteTextLine(newFingerprint.c_str());
  WriteTextLine(FormatDecimal(oldSize, scratch));
  WriteTextLine(FormatDecimal(newSize, scratch));
  WriteTextLine(PathFileName(oldPath));
  ScratchCursor = scratch;
  for (int32_t i = 0; i < newSize; i++) {
    SelectFile(SLOT_OLD);
    int32_t o = ReadFileByte();
    SelectFile(SLOT_NEW);
    int32_t n = ReadFileByte();
    SelectFile(SLOT_PATCH);
    if (o == n) {
      WriteFileByte(0);
    } else {
      WriteFileByte(1);
      WriteFileByte(n);
    }
  }
  for (int32_t slot : {SLOT_PATCH, SLOT_OLD, SLOT_NEW, SLOT_STUB})
    CloseFileSlot(slot);
  double seconds = Now() - start;
  DeleteFileA("perbyte.bin");
  return seconds;
}

// The bytes md5sum was timed on, or random ones when run on its own.
std::vector<unsigned char> Md5Input(std::string* digest) {
  std::vector<unsigned char> bytes(BIG_NEW);
  const char* path = std::getenv("PB_MD5_FILE");
  HANDLE file = path ? CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   0, nullptr)
                     : INVALID_HANDLE_VALUE;
  DWORD read = 0;
  if (file != INVALID_HANDLE_VALUE) {
    ReadFile(file, bytes.data(), BIG_NEW, &read, nullptr);
    CloseHandle(file);
  }
  if (read != static_cast<DWORD>(BIG_NEW)) {
    uint32_t state = 88172645u;
    for (auto& b : bytes)
      b = static_cast<unsigned char>(Random(&state));
    return bytes;
  }
  if (const char* expected = std::getenv("PB_MD5SUM_DIGEST"))
    *digest = expected;
  return bytes;
}

double TimeBufferMd5(const std::vector<unsigned char>& bytes, const std::string& expected) {
  double best = 1e9;
  for (int run = 0; run < RUNS; run++) {
    char* start = ScratchCursor;
    double begin = Now();
    std::string digest = BufferMd5Hex(bytes.data(), static_cast<int32_t>(bytes.size()));
    best = std::min(best, Now() - begin);
    ScratchCursor = start;
    if (!expected.empty() && digest != expected) {
      std::fprintf(stderr, "bench: BufferMd5Hex gives %s, md5sum %s\n", digest.c_str(),
                   expected.c_str());
      std::exit(1);
    }
  }
  return best;
}

// The stub's decoder on a pair in memory with about one byte in a hundred
// changed, fed the stream whole and emptied through a 64 KiB buffer as in
// the stub.
double TimeDecode(const std::vector<unsigned char>& now) {
  constexpr int32_t OUT_SIZE = 65536;
  const int32_t size = static_cast<int32_t>(now.size());
  std::vector<unsigned char> old = now, stream(2 * now.size()), out(OUT_SIZE);
  uint32_t state = 2463534242u;
  for (size_t i = Random(&state) % 100; i < old.size(); i += 1 + Random(&state) % 200)
    old[i] ^= 0x5A;
  stream.resize(EncodeDiffBlock(old.data(), now.data(), size, stream.data()));
  double best = 1e9;
  for (int run = 0; run < RUNS; run++) {
    DiffDecoder decoder;
    StartDiffDecoder(&decoder, size, size);
    DiffChunk chunk{old.data(), size, stream.data(), static_cast<int32_t>(stream.size()),
                    true, out.data(), OUT_SIZE};
    double begin = Now();
    while (DecodeDiff(&decoder, &chunk) == DIFF_MORE) {
      chunk.out = out.data();
      chunk.outRoom = OUT_SIZE;
    }
    best = std::min(best, Now() - begin);
    if (decoder.status != DIFF_DONE) {
      std::fprintf(stderr, "bench: the decoder ended with %d\n", decoder.status);
      std::exit(1);
    }
  }
  return best;
}

double PeakMib() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  size_t peak = std::max(counters.PeakWorkingSetSize, counters.PeakPagefileUsage);
  return static_cast<double>(peak) / MIB;
}

std::string MakeFolder() {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  std::string folder = std::string(temp) + "pbbench" + std::to_string(GetCurrentProcessId());
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder;
}

}  // namespace

int main() {
  if (!CreateHeaps() || InitScratchBuffer() == nullptr || !InitFileSlots())
    return 1;
  char previous[MAX_PATH];
  GetCurrentDirectoryA(sizeof previous, previous);
  std::string folder = MakeFolder();
  SetCurrentDirectoryA(folder.c_str());
  MakeStub();

  MakePair("small_old.bin", "small_new.bin", SMALL_OLD, SMALL_NEW);
  TimeGeneratePatch("small_old.bin", "small_new.bin");
  double smallPeak = PeakMib();

  MakePair("old.bin", "new.bin", BIG_OLD, BIG_NEW);
  double floor = 1e9;
  RunTimes best{1e9, 0};
  for (int run = 0; run < RUNS; run++) {
    floor = std::min(floor, TimeFloor("old.bin", "new.bin", BIG_OLD, BIG_NEW));
    RunTimes times = TimeGeneratePatch("old.bin", "new.bin");
    if (times.whole < best.whole)
      best = times;
  }
  double bigPeak = PeakMib();
  double perByte = TimePerByte("small_old.bin", "small_new.bin");

  for (const char* name : {"old.bin", "new.bin", "small_old.bin", "small_new.bin",
                           STUB_FILE_NAME})
    DeleteFileA(name);
  SetCurrentDirectoryA(previous);
  RemoveDirectoryA(folder.c_str());

  std::string expectedDigest;
  std::vector<unsigned char> md5Bytes = Md5Input(&expectedDigest);
  double md5 = TimeBufferMd5(md5Bytes, expectedDigest);
  double decode = TimeDecode(md5Bytes);
  const char* md5sumText = std::getenv("PB_MD5SUM_MBPS");
  double md5sum = md5sumText ? std::atof(md5sumText) : 0;

  // The writer's own figures leave out the read-back, which the floor does
  // not do either; check_share is the read-back's part of the same run.
  double a = Mbps(BIG_NEW, best.whole - best.check), b = Mbps(BIG_NEW, floor);
  double c = Mbps(SMALL_NEW, perByte);
  double d = Mbps(BIG_NEW, md5);
  std::printf("GeneratePatch, 64 MiB new / 60 MiB old: %.1f MB/s written, %.1f MB/s with "
              "its read-back check\n", a, Mbps(BIG_NEW, best.whole));
  std::printf("floor (fingerprints, reads, NewSize written): %.1f MB/s\n", b);
  std::printf("one call per byte, 1 MiB pair: %.3f MB/s\n", c);
  std::printf("BufferMd5Hex, 64 MiB in memory: %.1f MB/s; md5sum: %.1f MB/s\n", d, md5sum);
  std::printf("the stub's decoder, 64 MiB in memory: %.1f MB/s\n", Mbps(BIG_NEW, decode));
  std::printf("peak memory: %.1f MiB after a 1 MiB pair, %.1f MiB after 64 MiB pairs\n",
              smallPeak, bigPeak);
  std::printf("ratio_to_floor=%.3f\n", a / b);
  std::printf("ratio_to_per_byte=%.1f\n", a / c);
  if (md5sum > 0)
    std::printf("md5_ratio_to_md5sum=%.3f\n", d / md5sum);
  else
    std::printf("md5_ratio_to_md5sum=unknown\n");
  std::printf("peak_memory_mib=%.1f\n", bigPeak);
  std::printf("check_share=%.3f\n", best.check / best.whole);
  return 0;
}
