// tarvo-pack: copies the generic launcher and appends a configuration block built from
// the command line. Kept low level and stable so that build scripts can drive it.
#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "blockwriter.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using namespace tarvo::pack;

constexpr int exitPackFailed = 1;
constexpr int exitUsage = 2;

const char usage[] =
    "Usage: tarvo-pack [options] LAUNCHER.exe OUTPUT.exe\n"
    "Copies LAUNCHER.exe to OUTPUT.exe and appends a configuration block.\n"
    "\n"
    "Options (repeatable; records are written in the order given):\n"
    "  --string KEY=VALUE         string record; the bytes of VALUE are stored as given\n"
    "  --message KEY=TEXT         message record, stored as UTF-16LE\n"
    "  --message LANG:KEY=TEXT    message record in the language section LANG (\"de\", \"de_CH\");\n"
    "                             sections are written in the order their LANG first appears\n"
    "  --include NAME=PATH        stores the file PATH behind the block, extracted as NAME\n"
    "                             (for example lib\\app.jar); sets keys 2002 and 2003 unless\n"
    "                             they are given with --string\n"
    "  --help                     shows this text\n"
    "  --                         ends the options\n"
    "\n"
    "KEY is a decimal 32-bit integer. TEXT is UTF-8 (on Windows: the ANSI code page).\n"
    "Exit code: 0 packed, 1 packing failed, 2 bad command line.\n";

struct UsageError {
    std::string text;
};

bool parseKey(std::string_view text, int32_t& key) {
    if (text.empty()) return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), key, 10);
    return ec == std::errc() && end == text.data() + text.size();
}

// Splits "LEFT=RIGHT" at the first "=".
bool splitAssignment(std::string_view arg, std::string_view& left, std::string_view& right) {
    size_t eq = arg.find('=');
    if (eq == std::string_view::npos) return false;
    left = arg.substr(0, eq);
    right = arg.substr(eq + 1);
    return true;
}

// Message text as the command line carries it: UTF-8 on POSIX systems, the ANSI code
// page in a narrow Windows argv.
bool decodeText(std::string_view text, std::u16string& out) {
#ifdef _WIN32
    if (text.empty()) {
        out.clear();
        return true;
    }
    int n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return false;
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), wide.data(), n);
    out.assign(wide.begin(), wide.end());
    return true;
#else
    if (!isValidUtf8(text)) return false;
    out = utf8ToUtf16(text);
    return true;
#endif
}

struct Include {
    std::string name, path;
};

struct Options {
    Block block;
    std::vector<Include> includes;
    std::vector<std::string> positional;
    bool help = false;
};

void addMessage(Block& block, std::string_view option, std::string_view value) {
    std::string_view left, text;
    if (!splitAssignment(value, left, text))
        throw UsageError{std::string(option) + " " + std::string(value) + ": expected [LANG:]KEY=TEXT"};
    std::string_view keyText = left;
    const std::string_view* language = nullptr;
    std::string_view code;
    if (size_t colon = left.find(':'); colon != std::string_view::npos) {
        code = left.substr(0, colon);
        keyText = left.substr(colon + 1);
        language = &code;
    }
    MessageRecord record{};
    if (!parseKey(keyText, record.key))
        throw UsageError{std::string(option) + " " + std::string(value) + ": key \"" + std::string(keyText) +
                         "\" is not a 32-bit decimal integer"};
    if (!decodeText(text, record.text))
        throw UsageError{std::string(option) + " " + std::string(left) + "=...: text is not valid " +
#ifdef _WIN32
                         "in the ANSI code page"
#else
                         "UTF-8"
#endif
        };
    if (!language) {
        block.messages.push_back(std::move(record));
        return;
    }
    for (LanguageSection& section : block.languages) {
        if (section.code == *language) {
            section.messages.push_back(std::move(record));
            return;
        }
    }
    block.languages.push_back({std::string(*language), {std::move(record)}});
}

Options parseArguments(int argc, char** argv) {
    Options options;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            options.positional.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            continue;
        }
        if (arg != "--string" && arg != "--message" && arg != "--include")
            throw UsageError{"unknown option " + std::string(arg)};
        if (i + 1 >= argc) throw UsageError{std::string(arg) + " needs a value"};
        std::string_view value = argv[++i];
        if (arg == "--message") {
            addMessage(options.block, arg, value);
            continue;
        }
        std::string_view left, right;
        if (arg == "--string") {
            int32_t key;
            if (!splitAssignment(value, left, right))
                throw UsageError{"--string " + std::string(value) + ": expected KEY=VALUE"};
            if (!parseKey(left, key))
                throw UsageError{"--string " + std::string(value) + ": key \"" + std::string(left) +
                                 "\" is not a 32-bit decimal integer"};
            options.block.strings.emplace_back(key, std::string(right));
        } else {
            if (!splitAssignment(value, left, right) || left.empty() || right.empty())
                throw UsageError{"--include " + std::string(value) + ": expected NAME=PATH"};
            if (left.find(';') != std::string_view::npos)
                throw UsageError{"--include " + std::string(value) + ": NAME must not contain \";\""};
            options.includes.push_back({std::string(left), std::string(right)});
        }
    }
    if (!options.help && options.positional.size() != 2)
        throw UsageError{"expected LAUNCHER.exe and OUTPUT.exe, got " + std::to_string(options.positional.size()) +
                         " file argument(s)"};
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    try {
        options = parseArguments(argc, argv);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "tarvo-pack: %s\nTry 'tarvo-pack --help'.\n", e.text.c_str());
        return exitUsage;
    }
    if (options.help) {
        std::fputs(usage, stdout);
        return 0;
    }
    std::string error;
    for (const Include& include : options.includes) {
        IncludedFile file{include.name, {}};
        if (!readFileBytes(include.path, file.content, error)) {
            std::fprintf(stderr, "tarvo-pack: --include %s: %s\n", include.name.c_str(), error.c_str());
            return exitPackFailed;
        }
        options.block.files.push_back(std::move(file));
    }
    if (!packLauncherFile(options.positional[0], options.positional[1], options.block, error)) {
        std::fprintf(stderr, "tarvo-pack: %s\n", error.c_str());
        return exitPackFailed;
    }
    return 0;
}
