// What an install comes to. The numbers are the exit codes of an unattended
// run (patch.exe /S), which deployment scripts rely on: never renumber.
#pragma once

enum StubResult {
  STUB_DONE = 0,
  STUB_BAD_COMMAND_LINE = 1,
  STUB_PATCH_DAMAGED = 2,
  STUB_TARGET_MISSING = 3,
  STUB_WRONG_VERSION = 4,
  STUB_ALREADY_PATCHED = 5,
  STUB_TARGET_UNREADABLE = 6,
  STUB_FOLDER_NOT_WRITABLE = 7,
  STUB_DISK_FULL = 8,
  STUB_WRITE_FAILED = 9,
  STUB_RESULT_MISMATCH = 10,
  STUB_REPLACE_FAILED = 11,
  STUB_NO_WINDOW = 12,
  STUB_PATH_TOO_LONG = 13,
};
