// Windows halves of the program-folder, command-line and console helpers.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// shellapi.h needs windows.h first.
#include <shellapi.h>

#include <cstdio>
#include <iostream>
#include <random>
#include <system_error>

#include "app/CommandLine.h"
#include "app/Console.h"
#include "app/Language.h"
#include "app/ProgramFolder.h"
#include "base/windows/WideText.h"

namespace brev {
namespace {

std::string ToUtf8(const wchar_t* text) { return text ? win::Utf8FromWide(text) : std::string(); }

}  // namespace

std::filesystem::path MakeTemporaryFolder(const std::string& prefix, std::string& error) {
    std::error_code ec;
    const auto base = std::filesystem::temp_directory_path(ec);
    if (ec) {
        error = "no temporary folder: " + ec.message();
        return {};
    }
    // create_directory fails on an existing name, so a folder it makes is ours alone.
    std::random_device rd;
    for (int attempt = 0; attempt < 16; ++attempt) {
        const auto dir = base / (prefix + std::to_string(rd()));
        if (std::filesystem::create_directory(dir, ec)) return dir;
    }
    error = "cannot create a temporary folder under " + ToUtf8(base.c_str());
    return {};
}

std::filesystem::path ExecutablePath() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) {
            buffer.resize(n);
            return std::filesystem::path(buffer);
        }
        buffer.resize(buffer.size() * 2);  // truncated: long path
    }
}

std::vector<std::string> ProcessArguments(int argc, char** argv) {
    (void)argc;
    (void)argv;
    std::vector<std::string> args;
    int count = 0;
    LPWSTR* list = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!list) return args;
    for (int i = 0; i < count; ++i) args.push_back(ToUtf8(list[i]));
    LocalFree(list);
    return args;
}

std::ostream* OpenParentConsole() {
    // Already attached (Wine hands a program started from a console that console) is as good.
    const bool attached = AttachConsole(ATTACH_PARENT_PROCESS) != 0 || GetLastError() == ERROR_ACCESS_DENIED;
    FILE* stream = nullptr;
#ifdef _MSC_VER
    const bool reopened = freopen_s(&stream, "CONOUT$", "w+t", stdout) == 0 && stream != nullptr;
#else
    stream = std::freopen("CONOUT$", "w+t", stdout);
    const bool reopened = stream != nullptr;
#endif
    if (!attached || !reopened) return nullptr;
    std::cout.clear();
    return &std::cout;
}

bool SystemLanguageIsChinese() { return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_CHINESE; }

}  // namespace brev
