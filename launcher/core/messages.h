// The user's locale, configured message texts, and the single fatal-error path.
#pragma once
#include <cstddef>

// Writes the locale code ("en" when nothing fits) and splits language and country.
void detectLocale(char* code, size_t size);
// Code for a Windows language identifier from the locale table ("en" when neither
// the identifier nor its primary language is listed).
const char* localeCodeFor(unsigned short languageId);
const char* localeCode();
bool getLocaleLanguage(char* buffer);  // two letters and terminator
bool getLocaleCountry(char* buffer);   // two letters and terminator

int getMessageText(int key, wchar_t* buffer);  // buffer of 6000 units
void showFormattedMessage(int key, const wchar_t* argument);
void showErrorMessage(const wchar_t* text);

[[noreturn]] void exitProcessWithCleanup(unsigned exitCode);
[[noreturn]] void fatalText(const wchar_t* text);
[[noreturn]] void fatalMessage(int key, const char* argument);
[[noreturn]] void fatalMessageW(int key, const wchar_t* argument);

void emptyDirectory(const char* path, bool recurse);
