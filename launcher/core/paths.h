// The executable's own path and directory in 8-bit and wide form, resolution of
// relative paths, small path predicates, the temporary-directory search and the
// per-run work directory. Every path buffer holds textBufferSize characters.
#pragma once
#include <cstdint>

#include "textbuf.h"

// Per-run work directory for included files; empty until createWorkDir succeeds.
extern char workDir[textBufferSize];

const char* getExePath();
const wchar_t* getExePathW();
void getExeDirectories();
const char* exeDir();            // 8-bit, with trailing backslash
const wchar_t* exeDirWidened();  // the 8-bit form widened byte by byte
const wchar_t* exeDirW();        // wide long form

// Code page of the 8-bit file APIs.
unsigned fileApiCodePage();
// Wide to 8-bit in the file-API code page; `lossy` tells whether "?" had to stand in.
bool toAnsiPath(const wchar_t* src, char* dst, size_t size, bool* lossy);
bool fromAnsiPath(const char* src, wchar_t* dst, size_t size);

bool probeFile(const char* path, uint64_t* lastWrite);
bool probeFileW(const wchar_t* path, uint64_t* lastWrite);
bool fileExists(const char* path);
bool fileExistsW(const wchar_t* path);
bool isRelativePath(const char* path);
bool isRelativePathW(const wchar_t* path);
void collapseBackslashes(wchar_t* path);
void normalizePath(char* path);
void lowerCasePath(char* path);

// Results are empty (and the overflow logged) when the path does not fit.
bool resolvePath(char* out, const char* path, const char* baseFile);
bool resolvePathW(wchar_t* out, const wchar_t* path, bool narrowForm, const wchar_t* baseFile);
bool getFullPath(char* out, const char* path, bool keepCase);
bool getFullPathW(wchar_t* out, const wchar_t* path, bool narrowForm, bool keepCase);

void getTempDir(char* out);
void getTempDirW(wchar_t* out, bool failIfNone);
bool tryTempDir(const char* candidate, bool createFirst, bool rejectLossy);
bool tryTempDirW(const wchar_t* candidate, bool createFirst, bool rejectLossy);
bool probeTempDir(const char* dir);
bool probeTempDirW(const wchar_t* dir);
void makeTempFileName(char* out);
void createWorkDir();
