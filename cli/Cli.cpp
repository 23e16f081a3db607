#include "cli/Cli.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

#include "app/CommandLine.h"
#include "app/ProgramFolder.h"
#include "app/lang/Translation.h"
#include "app/settings/SettingsFile.h"
#include "base/FileChecks.h"
#include "base/Utf8Path.h"
#include "cli/Command.h"
#include "cli/Session.h"
#include "cli/Signals.h"
#include "cli/Terminal.h"

#ifndef BREVLOAD_VERSION
#define BREVLOAD_VERSION "0"
#endif

namespace brev::cli {
namespace {

// The first problem with the files named on the command line, or "": every file read must be a
// readable regular file, every output must be writable and none may be one of the inputs. Looked
// at before the trace is opened and before any device is touched.
std::string FileProblem(const CommonOptions& options, const ICommand& command) {
    std::vector<std::string> inputs = command.InputFiles();
    for (const std::string& file : inputs) {
        if (const std::string problem = InputFileProblem(PathFromUtf8(file)); !problem.empty())
            return file + ": " + problem;
    }
    if (!options.configFile.empty()) {
        inputs.push_back(options.configFile);
        if (const std::string problem = SettingsFileProblem(PathFromUtf8(options.configFile));
            !problem.empty())
            return "--config " + options.configFile + ": " + problem;
    }
    if (command.NeedsDevices() && !options.simulated()) {
        // The mode file is optional; one that is there must be one.
        const std::filesystem::path mode = CurrentProgramFolders().modeFile;
        std::error_code ec;
        if (std::filesystem::symlink_status(mode, ec).type() != std::filesystem::file_type::not_found) {
            if (const std::string problem = SettingsFileProblem(mode); !problem.empty())
                return PathToUtf8(mode) + ": " + problem;
        }
    }
    std::vector<std::string> outputs = command.OutputFiles();
    if (!options.traceFile.empty()) outputs.push_back(options.traceFile);
    for (const std::string& out : outputs) {
        for (const std::string& in : inputs) {
            if (SameFile(PathFromUtf8(out), PathFromUtf8(in)))
                return out + ": is also an input file; it would be overwritten before it is read";
        }
        if (const std::string problem = OutputFileProblem(PathFromUtf8(out)); !problem.empty())
            return out + ": " + problem;
    }
    if (outputs.size() == 2 && SameFile(PathFromUtf8(outputs[0]), PathFromUtf8(outputs[1])))
        return outputs[1] + ": names the output file a second time";
    return {};
}

// The first argument that is neither an option nor an option's value: the subcommand's place.
// Empty when there is none.
std::string FirstWord(CLI::App& app, int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") return i + 1 < argc ? argv[i + 1] : "";
        if (arg.size() > 1 && arg[0] == '-') {
            if (arg.find('=') != std::string::npos) continue;
            const CLI::Option* option = app.get_option_no_throw(arg);
            if (option != nullptr && option->get_items_expected_min() != 0)
                ++i;  // its value (flags take none)
            continue;
        }
        return arg;
    }
    return {};
}

bool NoColorAsked() {
    // Any non-empty value counts, as the convention has it.
    const char* value = std::getenv("NO_COLOR");
    return value != nullptr && value[0] != '\0';
}

}  // namespace

int Main(int argc, char** argv) {
#ifdef _WIN32
    // The bytes as written: no CR added before each LF. A console shows UTF-8 as such.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    SetConsoleOutputCP(CP_UTF8);
#else
    // A closed pipe (| head) ends the output, never the jobs: writes fail with EPIPE instead.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    // The arguments in UTF-8 (Windows passes argv in the ANSI code page).
    std::vector<std::string> arguments = ProcessArguments(argc, argv);
    std::vector<char*> utf8Argv;
    for (std::string& a : arguments) utf8Argv.push_back(a.data());
    utf8Argv.push_back(nullptr);
    argc = static_cast<int>(arguments.size());
    argv = utf8Argv.data();

    CLI::App app{
        "brevload-cli: download firmware to USB mass-storage microcontrollers, without a window.\n"
        "Exit status: 0 every device succeeded, 1 a device failed, 2 bad usage or a bad image, "
        "3 no device to work on."};
    app.name("brevload-cli");
    // Options of the top level may follow the subcommand: download FILE --simulate 2.
    app.fallthrough();
    app.require_subcommand(1);
    app.set_version_flag("--version", BREVLOAD_VERSION);
    app.footer(
        "Defaults of the flash options come from confile.inf in the program folder (BREVLOAD_HOME "
        "when set). Jobs on several devices run at the same time.");

    CommonOptions options;
    AddCommonOptions(app, options);
    std::string language;
    CLI::Option* languageOption =
        app.add_option("--lang", language, "Language of the operator texts: zh or en (default: the system's)")
            ->type_name("zh|en");
    std::vector<std::unique_ptr<ICommand>> commands = MakeCommands();

    // The shared options, listed again in each subcommand's help: a reader of `download --help`
    // should not need the top-level help to find --device.
    std::string shared;
    {
        CLI::App sharedApp;
        CommonOptions unused;
        AddCommonOptions(sharedApp, unused);
        std::string unusedLanguage;
        sharedApp.add_option("--lang", unusedLanguage, languageOption->get_description())->type_name("zh|en");
        sharedApp.set_help_flag();
        shared = CLI::Formatter().make_groups(&sharedApp, CLI::AppFormatMode::Normal);
    }
    std::vector<std::pair<CLI::App*, ICommand*>> subs;
    for (const auto& command : commands) {
        CLI::App* sub = app.add_subcommand(command->Name(), command->Description());
        sub->footer("Shared options (before or after the subcommand):\n" + shared);
        command->AddOptions(*sub);
        subs.emplace_back(sub, command.get());
    }

    if (const std::string word = FirstWord(app, argc, argv); !word.empty()) {
        const bool known = std::any_of(commands.begin(), commands.end(),
                                       [&word](const auto& c) { return word == c->Name(); });
        if (!known) {
            std::string names;
            for (const auto& c : commands) names += std::string(names.empty() ? "" : ", ") + c->Name();
            std::fprintf(stderr, "brevload-cli: unknown subcommand '%s'; the subcommands are: %s\n",
                         word.c_str(), names.c_str());
            return ToInt(ExitCode::Usage);
        }
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? ToInt(ExitCode::Ok) : ToInt(ExitCode::Usage);
    }

    ICommand* chosen = nullptr;
    for (const auto& [sub, command] : subs) {
        if (sub->parsed()) chosen = command;
    }
    if (chosen == nullptr) return ToInt(ExitCode::Usage);

    if (const std::string problem = FileProblem(options, *chosen); !problem.empty()) {
        std::fprintf(stderr, "brevload-cli: %s\n", problem.c_str());
        return ToInt(ExitCode::Usage);
    }

    // Before the first operator text is printed. The commands on devices read the settings file
    // anyway, so its language key counts for them.
    std::vector<std::string> languageArguments{"brevload-cli"};
    if (languageOption->count() > 0) languageArguments.insert(languageArguments.end(), {"--lang", language});
    const std::filesystem::path settingsFile = SettingsFileOf(options);
    std::string languageError;
    const std::optional<Language> chosenLanguage = ChooseProcessLanguage(
        languageArguments, chosen->NeedsDevices() ? &settingsFile : nullptr, languageError);
    if (!chosenLanguage) {
        std::fprintf(stderr, "brevload-cli: %s\n", languageError.c_str());
        return ToInt(ExitCode::Usage);
    }
    if (!InstallLanguage(*chosenLanguage))
        std::fprintf(stderr, "brevload-cli: the English texts cannot be loaded\n");

    const OutputMode mode =
        options.json ? OutputMode::Json : (StdoutIsTerminal() ? OutputMode::Terminal : OutputMode::Plain);
    COutput output(mode, options.quiet);
    output.SetVerbose(options.verbose);
    output.SetColor(!NoColorAsked());
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> logFile(nullptr, &std::fclose);
    if (!options.logFile.empty()) {
#ifdef _WIN32
        logFile.reset(_wfopen(PathFromUtf8(options.logFile).c_str(), L"ab"));
#else
        logFile.reset(std::fopen(options.logFile.c_str(), "a"));
#endif
        if (!logFile) {
            std::fprintf(stderr, "brevload-cli: --log-file %s: %s\n", options.logFile.c_str(),
                         std::strerror(errno));
            return ToInt(ExitCode::Usage);
        }
        output.SetLogFile(logFile.get());
    }
    CommandContext ctx{options, output, nullptr};
    if (!chosen->NeedsDevices()) return ToInt(chosen->Execute(ctx));

    Session session(options, output);
    std::string error;
    if (!session.Open(error)) {
        output.Error(error);
        return ToInt(ExitCode::Usage);
    }
    ctx.session = &session;
    ExitCode code = chosen->Execute(ctx);
    if (!session.Finish(error)) {
        output.Error(error);
        // An output that could not be written is a bad output path, whatever the devices did.
        if (session.traceFailed())
            code = ExitCode::Usage;
        else if (code == ExitCode::Ok)
            code = ExitCode::DeviceFailed;
    }
    if (session.signals()->interrupted()) code = ExitCode::Interrupted;
    return ToInt(code);
}

}  // namespace brev::cli
