// The console program's command line: options in, a patch request out.
//
// Options are long names, each valued one followed by its value as the next
// argument. A text not given on the command line comes from the texts file
// (--texts) when it names it, else it is the form's initial text. Every
// string in the record is owned by it until FreeCommandLine.
#pragma once

#include <cstdint>
#include <span>

#include "app/patch.h"

struct CommandLine {
  PatchRequest request;
  StringVar outPath;
  StringVar stubPath;    // null unless --stub was given
  StringVar textsPath;   // null unless --texts was given
  StringVar verifyPath;  // null unless --verify was given: check, don't make
  bool allowEmpty;
  bool compact;
  bool quiet;
  bool help;
  bool version;
  StringVar usageError;  // why the command line was refused
};

// Fills the record from the arguments after the program's own name. False
// on a usage error, whose one-line text is then in usageError. --help and
// --version end the reading at once and are never refused. --verify takes
// only --old and --quiet beside it.
bool ReadCommandLine(std::span<const char* const> arguments, CommandLine* line);

void FreeCommandLine(CommandLine* line);
