#include "vmoptions.h"

#include <windows.h>

#include <cstring>
#include <cwchar>
#include <io.h>
#include <share.h>

#include "expand.h"
#include "log.h"
#include "paths.h"
#include "textbuf.h"

namespace {

// A file by volume and index, so that a cycle is seen whatever path reached the file.
struct FileIdentity {
    DWORD volume;
    DWORD indexHigh;
    DWORD indexLow;
    bool operator==(const FileIdentity&) const = default;
};

// The files being read right now, outermost first.
std::vector<std::optional<FileIdentity>> filesBeingRead;

std::optional<FileIdentity> identify(FILE* file) {
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    BY_HANDLE_FILE_INFORMATION info;
    if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &info)) return std::nullopt;
    return FileIdentity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

bool isBeingRead(const std::optional<FileIdentity>& identity) {
    if (!identity) return false;
    for (const auto& open : filesBeingRead)
        if (open == identity) return true;
    return false;
}

bool startsWith(const wchar_t* text, const wchar_t* prefix) {
    return std::wcsncmp(text, prefix, std::wcslen(prefix)) == 0;
}

void includeOptions(const wchar_t* fileName, const wchar_t* baseFile, JvmOptionList& options,
                    ClassPathOverrides& overrides) {
    if (std::wcslen(fileName) >= textBufferSize) {
        logError(L"vmoptions include name longer than %d characters, not read: %.200s...",
                 static_cast<int>(textBufferSize - 1), fileName);
        return;
    }
    // Heap buffers: includes nest, and every level would otherwise hold them on the stack.
    std::wstring name(textBufferSize, L'\0');
    copyTextW(name.data(), textBufferSize, fileName);
    expandWString(name.data(), textBufferSize, false);
    logMessage(L"after exp from %s %s", name.c_str(), fileName);
    std::wstring resolved(textBufferSize, L'\0');
    FILE* file = nullptr;
    if (resolvePathW(resolved.data(), name.c_str(), false, baseFile)) file = openVmOptionsFile(resolved.c_str());
    logMessage(L"adding vmoptions from (%p) <%s> (%s)", static_cast<void*>(file), resolved.c_str(), name.c_str());
    readVmOptionsFile(file, resolved.c_str(), options, overrides);
    logMessage(L"adding vmoptions 2");
    logMessage(L"adding vmoptions 3");
}

// Applies one line as read from a file: end-of-line characters and blanks trimmed,
// blank and "#" lines ignored, bytes widened as they are, then expanded.
void applyFileLine(char* line, std::wstring& wide, const wchar_t* baseFile, JvmOptionList& options,
                   ClassPathOverrides& overrides) {
    size_t n = std::strlen(line);
    while (n > 0 && (line[n - 1] == '\r' || line[n - 1] == '\n')) --n;
    while (n > 0 && line[n - 1] == ' ') --n;
    line[n] = 0;
    const char* start = line;
    while (*start == ' ') ++start;
    if (*start == 0 || *start == '#') return;
    widenBytes(wide.data(), vmOptionsLineSize, start);
    expandWString(wide.data(), vmOptionsLineSize, true);
    std::wstring text(wide.c_str());
    applyOptionLine(text.c_str(), baseFile, options, overrides);
}

}  // namespace

FILE* openVmOptionsFile(const wchar_t* name) { return _wfsopen(name, L"rt", _SH_DENYNO); }

FILE* openDefaultVmOptions() {
    wchar_t module[textBufferSize];
    DWORD length = GetModuleFileNameW(nullptr, module, textBufferSize);
    if (length == 0 || length >= textBufferSize) {
        logError(L"vmoptions: module file name not available (%d)", static_cast<int>(length));
        module[0] = 0;
    }
    for (const wchar_t* start : {getExePathW(), static_cast<const wchar_t*>(module)}) {
        if (!start[0]) continue;
        std::wstring path = start;
        // The last four characters go whatever they are: "svc.exe" gives "svc.vmoptions".
        std::wstring first = path.substr(0, path.size() >= 4 ? path.size() - 4 : 0) + L".vmoptions";
        FILE* file = openVmOptionsFile(first.c_str());
        logMessage(L"vmoptions2: exe %s file: %s, file: %p", start, first.c_str(), static_cast<void*>(file));
        if (file) return file;
        std::wstring second = path + L".vmoptions";
        file = openVmOptionsFile(second.c_str());
        logMessage(L"vmoptions: opts2: %s, file: %p", second.c_str(), static_cast<void*>(file));
        if (file) return file;
    }
    return nullptr;
}

void readVmOptionsFile(FILE* file, const wchar_t* baseFile, JvmOptionList& options, ClassPathOverrides& overrides) {
    if (!file) return;
    const wchar_t* shownName = baseFile ? baseFile : L"(default vmoptions file)";
    std::optional<FileIdentity> identity = identify(file);
    if (isBeingRead(identity)) {
        logError(L"vmoptions include cycle: %s is already being read, not read again", shownName);
        std::fclose(file);
        return;
    }
    if (filesBeingRead.size() >= maxIncludeDepth) {
        logError(L"vmoptions includes nested deeper than %d files, %s not read", static_cast<int>(maxIncludeDepth),
                 shownName);
        std::fclose(file);
        return;
    }
    filesBeingRead.push_back(identity);
    std::string line(vmOptionsLineSize, '\0');
    std::wstring wide(vmOptionsLineSize, L'\0');
    while (std::fgets(line.data(), static_cast<int>(vmOptionsLineSize), file)) {
        size_t n = std::strlen(line.c_str());
        if (n == vmOptionsLineSize - 1 && line[n - 1] != '\n') {
            int next = std::fgetc(file);
            if (next != EOF) {
                std::ungetc(next, file);
                logMessage(L"vmoptions line in %s longer than %d bytes: the rest follows as a line of its own",
                           shownName, static_cast<int>(vmOptionsLineSize - 1));
            }
        }
        applyFileLine(line.data(), wide, baseFile, options, overrides);
    }
    filesBeingRead.pop_back();
    std::fclose(file);
}

void applyOptionLine(const wchar_t* line, const wchar_t* baseFile, JvmOptionList& options,
                     ClassPathOverrides& overrides) {
    if (startsWith(line, L"-include-options "))
        includeOptions(line + 17, baseFile, options, overrides);
    else if (startsWith(line, L"-classpath "))
        overrides.replace = toAnsiString(line + 11);
    else if (startsWith(line, L"-classpath/p "))
        overrides.prepend = toAnsiString(line + 13);
    else if (startsWith(line, L"-classpath/a "))
        overrides.append = toAnsiString(line + 13);
    else
        options.push_back(toAnsiString(line));
}

void applyOptionWords(const ArgumentVector& words, JvmOptionList& options, ClassPathOverrides& overrides) {
    for (size_t i = 0; i < words.size(); ++i) {
        if (words[i] == L"-include-options" && i + 1 < words.size()) {
            std::wstring line = words[i] + L" " + words[i + 1];
            ++i;
            applyOptionLine(line.c_str(), nullptr, options, overrides);
        } else {
            applyOptionLine(words[i].c_str(), nullptr, options, overrides);
        }
    }
}

std::string toAnsiString(const wchar_t* text) {
    UINT codePage = fileApiCodePage();
    int size = WideCharToMultiByte(codePage, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::string out(static_cast<size_t>(size), '\0');
    size = WideCharToMultiByte(codePage, 0, text, -1, out.data(), size, nullptr, nullptr);
    if (size <= 1) return {};
    out.resize(static_cast<size_t>(size) - 1);
    return out;
}
