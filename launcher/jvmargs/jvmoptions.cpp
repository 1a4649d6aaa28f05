#include "jvmoptions.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "classpath.h"
#include "config.h"
#include "entry.h"
#include "expand.h"
#include "log.h"
#include "messages.h"
#include "textbuf.h"

namespace {

// Kept for the whole process: the JVM may hold on to what it was given.
JvmOptionList optionList;
std::vector<JavaVMOption> optionArray;

std::string configText(int key) {
    char* value = getConfigStringCopy(key);
    std::string text = value ? value : "";
    std::free(value);
    return text;
}

// A configured option text, widened byte by byte and never cut: a word cut in half
// would reach the JVM as a different option.
std::wstring configTextWidened(int key) {
    std::string text = configText(key);
    std::wstring wide(text.size(), L'\0');
    std::transform(text.begin(), text.end(), wide.begin(),
                   [](char c) { return static_cast<wchar_t>(static_cast<unsigned char>(c)); });
    return wide;
}

// Expands the text (its references may add up to one text buffer) and applies its words.
void applyConfiguredText(const std::wstring& text, JvmOptionList& options, ClassPathOverrides& overrides,
                         const wchar_t* logLine) {
    std::wstring buffer = text;
    buffer.resize(text.size() + textBufferSize, L'\0');
    expandWString(buffer.data(), buffer.size(), true);
    ArgumentVector words;
    splitCommandLine(buffer.c_str(), words);
    if (logLine) logMessage(logLine);
    applyOptionWords(words, options, overrides);
}

void addVersionSpecificOptions(JvmOptionList& options, ClassPathOverrides& overrides) {
    int count = getConfigInt(VersionOptionCount);
    if (count <= 0) return;
    logMessage(L"check %d version specific vm option lines for %S", count, selectedJvm.version);
    if (!selectedJvm.version[0]) return;
    // An absent prefix is empty and matches, so the walk never passes the last entry present.
    for (int i = 0; i < count; ++i) {
        std::string prefix = configText(VersionOptionPrefix + 2 * i);
        bool match = std::strncmp(selectedJvm.version, prefix.c_str(), prefix.size()) == 0;
        logMessage(L"checking version %S %d", prefix.c_str(), match ? 1 : 0);
        if (!match) continue;
        std::wstring text = configTextWidened(VersionOptions + 2 * i);
        logMessage(L"adding specific %s", text.c_str());
        applyConfiguredText(text, options, overrides, nullptr);
        return;
    }
}

bool startsWith(const std::wstring& text, const wchar_t* prefix) { return text.rfind(prefix, 0) == 0; }

void addLocaleOptions(const ArgumentVector& arguments, JvmOptionList& options, ClassPathOverrides& overrides) {
    const std::wstring* last = nullptr;
    for (const std::wstring& argument : arguments)
        if (startsWith(argument, L"-Dsun.locale.formatasdefault=")) last = &argument;
    if (!last) return;
    applyOptionLine(last->c_str(), nullptr, options, overrides);
    if (*last == L"-Dsun.locale.formatasdefault=true") return;
    char code[3];
    wchar_t option[64];
    if (getLocaleLanguage(code)) {
        formatTextW(option, 64, L"-Duser.language=%S", code);
        applyOptionLine(option, nullptr, options, overrides);
    }
    if (getLocaleCountry(code)) {
        formatTextW(option, 64, L"-Duser.country=%S", code);
        applyOptionLine(option, nullptr, options, overrides);
    }
}

}  // namespace

void addConfiguredOptions(const ArgumentVector& arguments, JvmOptionList& options, ClassPathOverrides& overrides) {
    std::wstring configured = configTextWidened(VmOptions);
    if (!configured.empty()) applyConfiguredText(configured, options, overrides, L"adding options");

    addVersionSpecificOptions(options, overrides);

    if (getConfigFlag(AllowJvmArguments))
        for (const std::wstring& argument : arguments)
            if (startsWith(argument, L"-J")) applyOptionLine(argument.c_str() + 2, nullptr, options, overrides);

    addLocaleOptions(arguments, options, overrides);
}

JavaVMInitArgs buildJvmInitArgs(const char* const* launcherProperties, const ArgumentVector& arguments) {
    optionList.clear();
    optionArray.clear();
    ClassPathOverrides overrides;
    for (const char* const* property = launcherProperties; property && *property; ++property)
        optionList.push_back(*property);

    addConfiguredOptions(arguments, optionList, overrides);

    FILE* file = openDefaultVmOptions();
    logMessage(L"default vmoptions file: %p", static_cast<void*>(file));
    readVmOptionsFile(file, nullptr, optionList, overrides);

    optionList.push_back(buildClassPath(overrides));

    if (isService && std::find(optionList.begin(), optionList.end(), "-Xrs") == optionList.end()) {
        logMessage(L"service: adding -Xrs");
        optionList.push_back("-Xrs");
    }
    if (noRedirection) optionList.push_back("-Dzandorium.noRedir=true");

    // The array is filled only now: pointers into the strings stay valid once the list is complete.
    for (std::string& option : optionList) optionArray.push_back(JavaVMOption{option.data(), nullptr});

    JavaVMInitArgs initArgs{};
    initArgs.version = JNI_VERSION_1_2;
    initArgs.nOptions = static_cast<jint>(optionArray.size());
    initArgs.options = optionArray.data();
    initArgs.ignoreUnrecognized = JNI_TRUE;
    logMessage(L"vmoption count %d", static_cast<int>(initArgs.nOptions));
    for (size_t i = 0; i < optionList.size(); ++i)
        logMessage(L"vmoption %d: %S", static_cast<int>(i), optionList[i].c_str());
    return initArgs;
}

const JvmOptionList& jvmOptions() { return optionList; }
