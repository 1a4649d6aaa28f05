// The configuration block appended behind the executable's last section, read once
// into two maps, and the accessors every other unit reads its settings through.
#pragma once
#include <windows.h>

#include <cstdint>

#include "configkeys.h"

// True until the block has been read; then only when key 107 is 1 or 5.
extern bool guiErrorMode;

void readConfigBlock();
HANDLE openOwnExecutable();
void seekConfigBlock(HANDLE file);
uint32_t configEndPosition();

int getConfigString(int key, char* buffer, size_t size);
int getConfigInt(int key);
// Flags are integers: any non-zero leading number is true ("yes" is false, "2" true).
bool getConfigFlag(int key);
int getConfigStringW(int key, wchar_t* buffer, size_t count);
char* getConfigStringCopy(int key);
// Copies at most `count` units (callers give 6000); nullptr for an absent key.
wchar_t* getConfigMessage(int key, wchar_t* buffer, size_t count = 6000);

// Reader primitives on the open executable; a short read ends the process.
int32_t readInt(HANDLE file);
int64_t readLong(HANDLE file);
int16_t readShort(HANDLE file);
