// Linux halves of the program-folder, command-line and console helpers.
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <system_error>

#include "app/CommandLine.h"
#include "app/Console.h"
#include "app/Language.h"
#include "app/ProgramFolder.h"

namespace brev {

std::filesystem::path ExecutablePath() {
    std::error_code ec;
    auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : path;
}

std::vector<std::string> ProcessArguments(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");
    return args;
}

std::ostream* OpenParentConsole() {
    // Started from a terminal, standard output already is that terminal; started otherwise,
    // whoever started us chose where it goes.
    return &std::cout;
}

std::filesystem::path MakeTemporaryFolder(const std::string& prefix, std::string& error) {
    std::error_code ec;
    const auto base = std::filesystem::temp_directory_path(ec);
    if (ec) {
        error = "no temporary folder: " + ec.message();
        return {};
    }
    // mkdtemp: a fresh name, created atomically, mode 0700.
    std::string pattern = (base / (prefix + "XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        error = "cannot create a temporary folder under " + base.string() + ": " + std::strerror(errno);
        return {};
    }
    return pattern;
}

bool SystemLanguageIsChinese() {
    return LocaleIsChinese(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG"));
}

}  // namespace brev
