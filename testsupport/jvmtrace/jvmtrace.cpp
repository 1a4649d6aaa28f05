#include "jvmtrace.h"

#include <cstdio>
#include <cstdlib>

namespace tarvo::jvmtrace {

std::string Record::get(std::string_view key) const {
    for (const auto& [k, v] : fields)
        if (k == key) return v;
    return {};
}

bool Record::has(std::string_view key) const {
    for (const auto& [k, v] : fields)
        if (k == key) return true;
    return false;
}

std::vector<std::string> Record::all(std::string_view key) const {
    std::vector<std::string> out;
    for (const auto& [k, v] : fields)
        if (k == key) out.push_back(v);
    return out;
}

std::string unescape(std::string_view value) {
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (c != '\\' || i + 1 == value.size()) {
            out += c;
            continue;
        }
        char n = value[++i];
        switch (n) {
        case 't': out += '\t'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 'x':
            if (i + 2 < value.size()) {
                out += static_cast<char>(std::strtol(std::string(value.substr(i + 1, 2)).c_str(), nullptr, 16));
                i += 2;
            }
            break;
        case '\\': out += '\\'; break;
        default:
            // Not an escape the writer makes: kept as it stands.
            out += '\\';
            out += n;
            break;
        }
    }
    return out;
}

std::vector<Record> parseRecords(std::string_view text) {
    std::vector<Record> out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        Record r;
        size_t cut = line.find('\t');
        r.kind = std::string(line.substr(0, cut));
        while (cut != std::string_view::npos) {
            size_t start = cut + 1;
            cut = line.find('\t', start);
            std::string_view field = line.substr(start, cut == std::string_view::npos ? std::string_view::npos : cut - start);
            size_t eq = field.find('=');
            if (eq == std::string_view::npos) r.fields.emplace_back(std::string(field), std::string());
            else r.fields.emplace_back(std::string(field.substr(0, eq)), unescape(field.substr(eq + 1)));
        }
        out.push_back(std::move(r));
    }
    return out;
}

static std::string readAll(const std::wstring& path) {
    std::string text;
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) return text;
    char buffer[8192];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    std::fclose(f);
    return text;
}

Trace readTrace(const std::wstring& path) { return Trace(parseRecords(readAll(path))); }
ProbeLog readProbeLog(const std::wstring& path) { return ProbeLog(parseRecords(readAll(path))); }

std::string Call::brief() const {
    std::string out = fn;
    if (!cls.empty()) out += " " + cls;
    if (!name.empty()) out += "." + name + sig;
    return out;
}

std::vector<Record> Trace::records(std::string_view kind) const {
    std::vector<Record> out;
    for (const Record& r : records_)
        if (r.kind == kind) out.push_back(r);
    return out;
}

std::vector<std::string> Trace::loads() const {
    std::vector<std::string> out;
    for (const Record& r : records("load")) out.push_back(r.get("path"));
    return out;
}

std::string Trace::initVersion() const {
    auto init = records("init");
    return init.empty() ? std::string() : init.front().get("version");
}

std::string Trace::ignoreUnrecognized() const {
    auto init = records("init");
    return init.empty() ? std::string() : init.front().get("ignoreUnrecognized");
}

// The option records that belong to the first JNI_CreateJavaVM.
std::vector<std::string> Trace::options() const {
    std::vector<std::string> out;
    bool inFirst = false;
    for (const Record& r : records_) {
        if (r.kind == "init") {
            if (inFirst) break;
            inFirst = true;
        } else if (r.kind == "option" && inFirst) {
            out.push_back(r.get("text"));
        }
    }
    return out;
}

std::vector<std::string> Trace::ignoredOptions() const {
    std::vector<std::string> out;
    for (const Record& r : records("option-ignored")) out.push_back(r.get("text"));
    return out;
}

int Trace::createResult() const {
    auto create = records("create");
    return create.empty() ? 1 : std::atoi(create.front().get("result").c_str());
}

bool Trace::created() const { return createResult() == 0; }

std::string Trace::createFailure() const {
    auto create = records("create");
    return create.empty() ? std::string() : create.front().get("reason");
}

std::vector<Call> Trace::calls() const {
    std::vector<Call> out;
    std::vector<size_t> open;  // calls into Java that have not returned yet
    for (const Record& r : records_) {
        if (r.kind == "call") {
            Call c;
            c.fn = r.get("fn");
            c.cls = r.get("class");
            c.name = r.get("name");
            c.sig = r.get("sig");
            c.args = r.all("arg");
            c.result = r.get("result");
            c.exception = r.get("exception");
            if (c.fn.rfind("Call", 0) == 0) open.push_back(out.size());
            out.push_back(std::move(c));
        } else if (r.kind == "return") {
            for (size_t i = open.size(); i-- > 0;) {
                Call& c = out[open[i]];
                if (c.fn == r.get("fn")) {
                    c.result = r.get("result");
                    c.exception = r.get("exception");
                    open.erase(open.begin() + static_cast<std::ptrdiff_t>(i));
                    break;
                }
            }
        }
    }
    return out;
}

std::vector<Call> Trace::calls(std::string_view fn) const {
    std::vector<Call> out;
    for (Call& c : calls())
        if (c.fn == fn) out.push_back(std::move(c));
    return out;
}

std::vector<std::string> Trace::functions() const {
    std::vector<std::string> out;
    for (const Call& c : calls()) out.push_back(c.fn);
    return out;
}

std::vector<std::string> Trace::briefs() const {
    std::vector<std::string> out;
    for (const Call& c : calls()) out.push_back(c.brief());
    return out;
}

std::vector<MainCall> Trace::mainCalls() const {
    std::vector<MainCall> out;
    for (const Record& r : records_) {
        if (r.kind == "main") {
            MainCall m;
            m.cls = r.get("class");
            m.nullArray = r.get("count") == "null";
            out.push_back(m);
        } else if (r.kind == "main-arg" && !out.empty()) {
            out.back().args.push_back(r.has("null") ? "<null>" : r.get("text"));
        }
    }
    return out;
}

std::vector<std::string> Trace::mainArgs() const {
    auto mains = mainCalls();
    return mains.empty() ? std::vector<std::string>() : mains.front().args;
}

std::string Trace::mainClass() const {
    auto mains = mainCalls();
    return mains.empty() ? std::string() : mains.front().cls;
}

std::vector<std::string> Trace::steps() const {
    std::vector<std::string> out;
    for (const Record& r : records("step")) {
        std::string arg = r.get("arg");
        out.push_back(arg.empty() ? r.get("name") : r.get("name") + ":" + arg);
    }
    return out;
}

std::vector<Thrown> Trace::exceptions() const {
    std::vector<Thrown> out;
    for (const Record& r : records("exception"))
        out.push_back({r.get("class"), r.get("message"), r.get("text"), r.get("thread"), r.get("by")});
    return out;
}

std::vector<std::string> Trace::described() const {
    std::vector<std::string> out;
    for (const Record& r : records("describe")) out.push_back(r.get("text"));
    return out;
}

std::vector<Violation> Trace::violations() const {
    std::vector<Violation> out;
    for (const Record& r : records("violation")) out.push_back({r.get("fn"), r.get("what")});
    return out;
}

std::vector<Record> Trace::helperCalls() const { return records("helper"); }

bool Trace::destroyBegun() const {
    for (const Record& r : records("destroy"))
        if (r.get("phase") == "begin") return true;
    return false;
}

bool Trace::destroyed() const {
    for (const Record& r : records("destroy"))
        if (r.get("phase") == "end") return true;
    return false;
}

int Trace::exitCode() const {
    auto exits = records("exit");
    return exits.empty() ? -1 : std::atoi(exits.front().get("code").c_str());
}

ProbeLog::ProbeLog(std::vector<Record> records) {
    for (Record& r : records) {
        if (r.kind != "run") continue;
        Run run;
        run.program = r.get("program");
        run.path = r.get("path");
        run.cmdline = r.get("cmdline");
        run.record = std::move(r);
        runs_.push_back(std::move(run));
    }
}

std::vector<Run> ProbeLog::runs(std::string_view program) const {
    std::vector<Run> out;
    for (const Run& r : runs_)
        if (r.program == program) out.push_back(r);
    return out;
}

size_t ProbeLog::count(std::string_view program) const { return runs(program).size(); }

}  // namespace tarvo::jvmtrace
