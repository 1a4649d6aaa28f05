// Diagnostic log, switched on by TARVO_LOG=yes or ZANDORIUM_LOG=yes. Formats are
// wide printf formats: %s wide string, %S 8-bit string, %d, %I64d, %p.
#pragma once

void logMessage(const wchar_t* format, ...);
void logError(const wchar_t* format, ...);
// The log file's path, or nullptr while logging is off or not yet decided.
const wchar_t* logFilePath();
