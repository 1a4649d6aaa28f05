// Commands for the single-instance guard and the included-file extraction. The guard
// commands hand-shake with the test through files so that two real processes overlap:
// after the guard has let the process through they create the "ready" file, then they
// stay until the "release" file exists (or the wait runs out).
#include <windows.h>

#include "driver.h"
#include "extract.h"
#include "instance.h"
#include "messages.h"
#include "paths.h"

namespace {

std::wstring fromAnsi(const char* text) {
    wchar_t wide[textBufferSize];
    fromAnsiPath(text, wide, textBufferSize);
    return wide;
}

std::wstring argOr(const DriverArgs& args, size_t i, const std::wstring& fallback) {
    return args.size() > i ? args[i] : fallback;
}

void touch(const std::wstring& path) {
    if (path.empty() || path == L"-") return;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    CloseHandle(file);
}

bool released(const std::wstring& path) {
    return path.empty() || path == L"-" || GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void printGuardResults() {
    printResult("passed", 1);
    printResult("semaphoreName", std::string(semaphoreName));
    printResult("pid", static_cast<long long>(GetCurrentProcessId()));
}

// guard [ready] [release] [waitMs]: the guard, then the hand-shake.
int guard(const DriverArgs& args) {
    checkSingleInstance();
    printGuardResults();
    touch(argOr(args, 0, L"-"));
    std::wstring release = argOr(args, 1, L"-");
    DWORD waitMs = args.size() > 2 ? std::stoul(args[2]) : 30000;
    for (DWORD waited = 0; !released(release) && waited < waitMs; waited += 20) Sleep(20);
    return 0;
}

HWND mainWindow = nullptr;
HWND popupWindow = nullptr;
int mainActivations = 0;
int popupActivations = 0;

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_ACTIVATE && LOWORD(wParam) != WA_INACTIVE) {
        if (window == mainWindow) ++mainActivations;
        if (window == popupWindow) ++popupActivations;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND hiddenWindow = nullptr;

// Which of this process's windows `window` is; "own" for one it did not create itself.
std::string windowRole(HWND window) {
    if (!window) return "none";
    if (window == mainWindow) return "main";
    if (window == popupWindow) return "popup";
    if (window == hiddenWindow) return "hidden";
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid == GetCurrentProcessId() ? "own" : "other";
}

// The visible top-level windows of this process, in enumeration order, as
// "role class" entries separated by ";".
std::wstring visibleWindows() {
    std::wstring list;
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            DWORD pid = 0;
            GetWindowThreadProcessId(window, &pid);
            if (pid != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
            wchar_t windowClass[64];
            GetClassNameW(window, windowClass, 64);
            auto* out = reinterpret_cast<std::wstring*>(param);
            std::string role = windowRole(window);
            *out += (out->empty() ? L"" : L";") + std::wstring(role.begin(), role.end()) + L" " + windowClass;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&list));
    return list;
}

void pumpMessages(const std::wstring& release, DWORD waitMs) {
    for (DWORD start = GetTickCount(); !released(release) && GetTickCount() - start < waitMs;) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

// window [ready] [release] [waitMs] [popup|shown|shownpopup]: an inactive top-level
// window stands for the first instance's user interface, minimised unless "shown",
// with "popup" also an owned popup that was its last active one; reports their state
// once released.
int window(const DriverArgs& args) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"TarvoInstanceDriver";
    RegisterClassW(&windowClass);
    mainWindow = CreateWindowExW(0, windowClass.lpszClassName, L"first instance", WS_OVERLAPPEDWINDOW, 100, 100, 300,
                                 200, nullptr, nullptr, windowClass.hInstance, nullptr);
    std::wstring mode = args.size() > 3 ? args[3] : L"";
    bool withPopup = mode.find(L"popup") != std::wstring::npos;
    if (withPopup) {
        ShowWindow(mainWindow, SW_SHOWNORMAL);
        popupWindow = CreateWindowExW(0, windowClass.lpszClassName, L"popup", WS_POPUP | WS_CAPTION, 150, 150, 200, 100,
                                      mainWindow, nullptr, windowClass.hInstance, nullptr);
        ShowWindow(popupWindow, SW_SHOWNORMAL);
        SetForegroundWindow(popupWindow);
        pumpMessages(L"", 200);
    }
    ShowWindow(mainWindow, mode.find(L"shown") != std::wstring::npos ? SW_SHOWNOACTIVATE : SW_SHOWMINNOACTIVE);
    // A window of the same process that was never shown: the guard must leave it hidden.
    hiddenWindow = CreateWindowExW(0, windowClass.lpszClassName, L"hidden", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                   nullptr, nullptr, windowClass.hInstance, nullptr);
    // Nothing of this process is in front when the second start comes.
    SetActiveWindow(nullptr);
    pumpMessages(L"", 200);

    checkSingleInstance();
    printGuardResults();
    HWND foreground = GetForegroundWindow();
    printResult("iconicBefore", IsIconic(mainWindow) ? 1 : 0);
    printResult("foregroundBefore", windowRole(foreground));
    printResult("lastActivePopupBefore", GetLastActivePopup(mainWindow) == popupWindow ? 1 : 0);
    printResult("windowsBefore", visibleWindows());
    mainActivations = popupActivations = 0;
    touch(argOr(args, 0, L"-"));

    pumpMessages(argOr(args, 1, L"-"), args.size() > 2 ? std::stoul(args[2]) : 30000);
    foreground = GetForegroundWindow();
    printResult("iconic", IsIconic(mainWindow) ? 1 : 0);
    printResult("foreground", windowRole(foreground));
    printResult("mainActivated", mainActivations);
    printResult("popupActivated", popupActivations);
    printResult("windows", visibleWindows());
    if (popupWindow) DestroyWindow(popupWindow);
    DestroyWindow(hiddenWindow);
    DestroyWindow(mainWindow);
    return 0;
}

int pid(const DriverArgs&) {
    printResult("storedPid", static_cast<long long>(readInstancePid()));
    printResult("normalisedPath", fromAnsi(normalisedExePath()));
    return 0;
}

// extract [keep]: the extraction as the run sequence does it, including its fatal end;
// "keep" extracts into the work directory already set instead of creating one.
int extract(const DriverArgs& args) {
    bool keep = !args.empty() && args[0] == L"keep";
    int result = extractIncludedFiles(!keep);
    printResult("result", result);
    printResult("workDir", fromAnsi(workDir));
    printResult("unextractedPosition", static_cast<long long>(getUnextractedPosition()));
    if (result != extractOk) fatalMessage(1009, "16");
    return 0;
}

// copy <source> <target> <length> <unscramble 0|1> [readonly]: copyData between two
// files; "readonly" opens the target without write access so that writing fails.
int copy(const DriverArgs& args) {
    HANDLE source = CreateFileW(args.at(0).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    bool readOnly = args.size() > 4 && args[4] == L"readonly";
    HANDLE target = CreateFileW(args.at(1).c_str(), readOnly ? GENERIC_READ : GENERIC_WRITE, 0, nullptr,
                                readOnly ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (source == INVALID_HANDLE_VALUE || target == INVALID_HANDLE_VALUE) {
        printResult("error", "open");
        return 1;
    }
    printResult("result", copyData(source, target, std::stoll(args.at(2)), args.at(3) == L"1"));
    CloseHandle(source);
    CloseHandle(target);
    return 0;
}

}  // namespace

const std::map<std::wstring, DriverCommand> driverCommands = {
    {L"guard", guard}, {L"window", window}, {L"pid", pid}, {L"extract", extract}, {L"copy", copy},
};
