#include "CliRun.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <map>

#include "base/windows/WideText.h"
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <random>

namespace brev::clitest {

#ifdef _WIN32

namespace {

// One argument as the C runtime splits a command line again: quoted when it holds a blank or a
// quote, backslashes doubled where they precede a quote.
std::wstring Quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

// This process's environment with the tool's variables set or removed: NAME=value, each ending
// with a zero, the whole sorted block ending with another.
std::wstring ChildEnvironment(const std::filesystem::path& dir, const std::string& locale) {
    std::map<std::wstring, std::wstring> vars;
    if (wchar_t* block = GetEnvironmentStringsW()) {
        for (const wchar_t* p = block; *p != L'\0'; p += wcslen(p) + 1) {
            const std::wstring entry(p);
            const size_t eq = entry.find(L'=', 1);  // "=C:=C:\\" entries start with '='
            if (eq != std::wstring::npos) vars[entry.substr(0, eq)] = entry.substr(eq + 1);
        }
        FreeEnvironmentStringsW(block);
    }
    for (const wchar_t* name : {L"TERM", L"NO_COLOR", L"LC_ALL", L"LC_MESSAGES"}) vars.erase(name);
    vars[L"TMP"] = vars[L"TEMP"] = (dir / "tmp").wstring();
    vars[L"BREVLOAD_HOME"] = dir.wstring();
    vars[L"BREVLOAD_CLI"] = win::WideFromUtf8(BREVLOAD_CLI_PATH);
    // Windows takes the language from the user's settings, not from LANG; under Wine a child
    // has its parent's (the test runs with a Chinese locale, the default here).
    vars[L"LANG"] = win::WideFromUtf8(locale);
    std::wstring env;
    for (const auto& [name, value] : vars) env += name + L"=" + value + L'\0';
    return env + L'\0';
}

HANDLE InheritableFile(const std::filesystem::path& path) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

RunResult CliFolder::Run(const std::vector<std::string>& args, const std::string& locale, bool shell) const {
    RunResult r;
    if (shell) return r;  // no POSIX shell here
    std::filesystem::create_directories(path() / "tmp");
    const auto outFile = path() / ".stdout";
    const auto errFile = path() / ".stderr";
    const HANDLE out = InheritableFile(outFile);
    const HANDLE err = InheritableFile(errFile);
    std::wstring commandLine = Quoted(win::WideFromUtf8(BREVLOAD_CLI_PATH));
    for (const std::string& a : args) commandLine += L" " + Quoted(win::WideFromUtf8(a));
    std::wstring env = ChildEnvironment(path(), locale);

    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi{};
    const BOOL started = out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE &&
                         CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                                        CREATE_UNICODE_ENVIRONMENT, env.data(), path().c_str(), &si, &pi);
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    if (err != INVALID_HANDLE_VALUE) CloseHandle(err);
    if (!started) return r;
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    if (GetExitCodeProcess(pi.hProcess, &code)) r.exitCode = static_cast<int>(code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    r.out = test::ReadText(outFile);
    r.err = test::ReadText(errFile);
    return r;
}

#else

namespace {

// In the child: working directory and environment (temporary files in the folder's "tmp").
void PrepareChild(const std::filesystem::path& dir, const std::string& locale) {
    if (::chdir(dir.c_str()) != 0) ::_exit(127);
    ::mkdir("tmp", 0700);
    ::setenv("TMPDIR", (dir / "tmp").c_str(), 1);
    ::setenv("BREVLOAD_HOME", dir.c_str(), 1);
    ::setenv("BREVLOAD_CLI", BREVLOAD_CLI_PATH, 1);
    ::unsetenv("TERM");
    ::unsetenv("NO_COLOR");
    ::unsetenv("LC_ALL");
    ::unsetenv("LC_MESSAGES");
    ::setenv("LANG", locale.c_str(), 1);
}

// In the child: working directory, environment, then the tool.
[[noreturn]] void ExecTool(const std::filesystem::path& dir, const std::vector<std::string>& args,
                           const std::string& locale = "zh_CN.UTF-8") {
    PrepareChild(dir, locale);
    std::vector<std::string> all{BREVLOAD_CLI_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
}

int ExitCodeOf(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

}  // namespace

RunResult CliFolder::Run(const std::vector<std::string>& args, const std::string& locale, bool shell) const {
    const auto outFile = path() / ".stdout";
    const auto errFile = path() / ".stderr";
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0) ::_exit(127);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        if (!shell) ExecTool(path(), args, locale);
        PrepareChild(path(), locale);
        std::vector<std::string> all = args;
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    RunResult r;
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return r;
    r.exitCode = ExitCodeOf(status);
    r.out = test::ReadText(outFile);
    r.err = test::ReadText(errFile);
    return r;
}

RunResult CliFolder::RunShell(const std::string& script) const {
    return Run({"/bin/bash", "-c", script}, "zh_CN.UTF-8", true);
}

pid_t CliFolder::Spawn(const std::vector<std::string>& args, int* stdoutFd) const {
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        ::dup2(fds[1], STDOUT_FILENO);
        const int err = ::open((path() / ".stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (err >= 0) ::dup2(err, STDERR_FILENO);
        ExecTool(path(), args);
    }
    ::close(fds[1]);
    *stdoutFd = fds[0];
    return pid;
}

bool ReadUntil(int fd, const std::string& needle, std::string& out, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (out.find(needle) == std::string::npos) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        char buf[4096];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) return out.find(needle) != std::string::npos;
        out.append(buf, static_cast<size_t>(n));
    }
    return true;
}

int Finish(pid_t pid, int fd, std::string& out) {
    char buf[4096];
    ssize_t n = 0;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    ::close(fd);
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return ExitCodeOf(status);
}

#endif

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// --- a strict JSON validator (RFC 8259), enough to trust the tool's lines ------------------------

namespace {

class JsonChecker {
public:
    explicit JsonChecker(const std::string& s) : s_(s) {}
    bool Document() {
        ws();
        if (!value()) return false;
        ws();
        return i_ == s_.size();
    }

private:
    bool value() {
        if (++depth_ > 64) return false;
        bool ok = false;
        if (i_ >= s_.size()) return false;
        switch (s_[i_]) {
            case '{':
                ok = object();
                break;
            case '[':
                ok = array();
                break;
            case '"':
                ok = string();
                break;
            case 't':
                ok = literal("true");
                break;
            case 'f':
                ok = literal("false");
                break;
            case 'n':
                ok = literal("null");
                break;
            default:
                ok = number();
        }
        --depth_;
        return ok;
    }
    bool object() {
        ++i_;
        ws();
        if (peek('}')) return ++i_, true;
        for (;;) {
            ws();
            if (!string()) return false;
            ws();
            if (!peek(':')) return false;
            ++i_;
            ws();
            if (!value()) return false;
            ws();
            if (peek('}')) return ++i_, true;
            if (!peek(',')) return false;
            ++i_;
        }
    }
    bool array() {
        ++i_;
        ws();
        if (peek(']')) return ++i_, true;
        for (;;) {
            ws();
            if (!value()) return false;
            ws();
            if (peek(']')) return ++i_, true;
            if (!peek(',')) return false;
            ++i_;
        }
    }
    bool string() {
        if (!peek('"')) return false;
        ++i_;
        while (i_ < s_.size()) {
            const auto c = static_cast<unsigned char>(s_[i_]);
            if (c == '"') return ++i_, true;
            if (c < 0x20) return false;
            if (c == '\\') {
                ++i_;
                if (i_ >= s_.size()) return false;
                const char e = s_[i_];
                if (e == 'u') {
                    for (int k = 1; k <= 4; ++k) {
                        if (i_ + k >= s_.size() || !std::isxdigit(static_cast<unsigned char>(s_[i_ + k])))
                            return false;
                    }
                    i_ += 5;
                    continue;
                }
                if (std::string("\"\\/bfnrt").find(e) == std::string::npos) return false;
                ++i_;
                continue;
            }
            if (c >= 0x80) {
                const size_t len = utf8(i_);
                if (len == 0) return false;
                i_ += len;
                continue;
            }
            ++i_;
        }
        return false;
    }
    size_t utf8(size_t at) const {
        const auto b0 = static_cast<unsigned char>(s_[at]);
        size_t len = b0 >= 0xF0 && b0 <= 0xF4 ? 4 : b0 >= 0xE0 ? 3 : b0 >= 0xC2 && b0 <= 0xDF ? 2 : 0;
        if (len == 0 || at + len > s_.size()) return 0;
        uint32_t cp = b0 & (len == 2 ? 0x1F : len == 3 ? 0x0F : 0x07);
        for (size_t k = 1; k < len; ++k) {
            const auto b = static_cast<unsigned char>(s_[at + k]);
            if ((b & 0xC0) != 0x80) return 0;
            cp = cp << 6 | (b & 0x3F);
        }
        if ((len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) || cp > 0x10FFFF ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return 0;
        return len;
    }
    bool number() {
        const size_t start = i_;
        if (peek('-')) ++i_;
        if (peek('0')) {
            ++i_;
        } else if (!digits()) {
            return false;
        }
        if (peek('.')) {
            ++i_;
            if (!digits()) return false;
        }
        if (peek('e') || peek('E')) {
            ++i_;
            if (peek('+') || peek('-')) ++i_;
            if (!digits()) return false;
        }
        return i_ > start;
    }
    bool digits() {
        const size_t start = i_;
        while (i_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_]))) ++i_;
        return i_ > start;
    }
    bool literal(const char* word) {
        const std::string w(word);
        if (s_.compare(i_, w.size(), w) != 0) return false;
        i_ += w.size();
        return true;
    }
    bool peek(char c) const { return i_ < s_.size() && s_[i_] == c; }
    void ws() {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r')) ++i_;
    }

    const std::string& s_;
    size_t i_ = 0;
    int depth_ = 0;
};

}  // namespace

bool IsValidJson(const std::string& line) { return JsonChecker(line).Document(); }

}  // namespace brev::clitest
