// A point where tests and the benchmark look into a run of GeneratePatch;
// the tool leaves it unset.
#pragma once

// Called, when set, with the temporary file's path once the patch is
// written and closed and before it is read back. Tests damage the patch or
// change an input there; the benchmark starts the proof's clock.
extern void (*BeforePatchProof)(const char* tempPath);
