// The single-instance guard: a named semaphore stands for the running executable.
// In single-instance mode a second start of the same file finds it taken, brings the
// first instance's windows to the front when asked to, and ends with exit code 0;
// otherwise every instance takes a numbered name of its own and always runs on.
#pragma once
#include <windows.h>

#include <cstddef>

#include "textbuf.h"

// Name of the semaphore this process holds; empty until checkSingleInstance has run
// (and when the name would not fit). Handed to the Java side.
extern char semaphoreName[textBufferSize];

// Highest instance number tried in multi-instance mode.
constexpr int maxInstanceNumber = 100000;

// Registry key under HKEY_CURRENT_USER holding the first instance's process id, one
// value per executable named by its normalised path.
constexpr const char* instancePidsKey = "SOFTWARE\\korvel-software\\tarvo\\pids\\";

// Returns when this process may run; otherwise ends it with exit code 0.
void checkSingleInstance();

// Copies `source`, writing "_" for every backslash and blank. False (the copy cut at
// `size` - 1 characters) when it does not fit.
bool toObjectName(char* destination, size_t size, const char* source);

// "Global\" or "Local\", the object name of `normalisedPath` and, when `number` is
// not negative, the number in decimal. False (and `out` empty) when it does not fit.
bool makeSemaphoreName(char* out, size_t size, const char* normalisedPath, bool global, int number);

// Multi-instance mode: creates the semaphores named with the numbers 0, 1, ... up to
// `maxNumber` until one is new (or the system refuses a name), closing each one taken.
// Returns the handle of the last candidate (kept open), its name in `out` and the
// error code of its creation.
HANDLE claimInstanceNumber(char* out, size_t size, const char* normalisedPath, bool global, int maxNumber, DWORD* code);

// The executable's path made absolute, lower-cased (A to Z) with backslashes collapsed:
// what identifies "the same program" for the guard.
const char* normalisedExePath();

void storeInstancePid();
DWORD readInstancePid();
void activateInstanceWindows(DWORD processId, bool restore);
