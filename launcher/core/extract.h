// Extraction of the files the launcher carries behind its configuration block into
// the per-run work directory. Each entry of that area is an 8-byte little-endian size
// followed by that many content bytes, every byte XOR-ed with includedFileMask.
#pragma once
#include <windows.h>

#include <cstdint>

// Results of the extraction steps.
constexpr int extractOk = 0;
constexpr int extractReadFailed = 1;
constexpr int extractWriteFailed = 2;

// Internal-error code (message 1009) for an included file name that could reach
// outside the work directory.
constexpr const char* refusedIncludedNameCode = "12";

// File position just behind the last entry read; 0 until files have been extracted.
extern uint32_t unextractedPosition;

// Extracts the files listed by keys 2002 and 2003 into the work directory, creating it
// first when `createWorkDirectory` is set. Returns extractOk, extractReadFailed or
// extractWriteFailed; a target that cannot be created or a refused name ends the process.
int extractIncludedFiles(bool createWorkDirectory);
uint32_t getUnextractedPosition();

// Reads one entry from `executable` and writes its content to `path`.
int extractFile(HANDLE executable, const char* path);
// Copies `length` bytes in chunks of at most 6000 bytes, unmasking them when asked.
int copyData(HANDLE source, HANDLE target, int64_t length, bool unscramble);

// True for a name that stays inside the work directory: a file name or one directory
// and a file name, separated by one backslash. Refused: an empty name or part, a part
// made only of dots and blanks (".", ".."), a colon (drive or stream), a slash, a
// leading backslash, a second backslash, and device names such as "con" or "nul.txt".
bool isAcceptableIncludedFileName(const char* name);
