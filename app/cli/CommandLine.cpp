#include "app/cli/CommandLine.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <system_error>

#include "app/cli/FilesFrom.h"
#include "batch/ShownName.h"
#include "files/SystemPath.h"

#ifndef TESSARY_VERSION
#define TESSARY_VERSION "unknown"
#endif

namespace {

// The help, laid out by hand so that it fits 80 columns.
constexpr const char* kHelp =
    "Usage: tessary-cli [options] -o DIR FILE...\n"
    "       tessary-cli [options] -o DIR --files-from LIST [-0] [--base BASE]\n"
    "       tessary-cli --check [-r] [--keep-alpha-bits] FILE...\n"
    "\n"
    "Repairs Targa (TGA) images: reads every file, whichever TGA variant it is\n"
    "stored in, and writes it again into DIR under its own name as a plain TGA\n"
    "(no image ID, uncompressed, rows bottom-up from left to right, a 24-bit\n"
    "colour map where there is one). An existing file is replaced only once\n"
    "its new content is complete.\n"
    "\n"
    "Options:\n"
    "  -o, --output DIR     destination folder, created when a file is written\n"
    "  -r, --recursive      take the .tga files below each folder FILE too\n"
    "      --skip-normal    leave files already in normal form alone (skipped)\n"
    "  -p, --preserve-timestamps\n"
    "                       give each written file its source's access and\n"
    "                       modification times\n"
    "      --rle            write run-length encoded files (Image Type 9, 10, 11)\n"
    "      --keep-alpha-bits\n"
    "                       keep the source's alpha-bit count (Image Descriptor\n"
    "                       bits 0 to 3); by default the descriptor is 0\n"
    "      --no-clobber     skip files whose destination exists\n"
    "  -n, --dry-run        read every file and say what would be written and\n"
    "                       what replaced, but write nothing\n"
    "      --check          write nothing; say whether each file is already in\n"
    "                       normal form, and why not (with --keep-alpha-bits:\n"
    "                       the form that option writes)\n"
    "      --files-from F   read more FILEs from F, one a line (- for standard\n"
    "                       input)\n"
    "  -0, --null           names in --files-from end with NUL (find -print0)\n"
    "      --base BASE      write each file under its path below BASE, not\n"
    "                       under its bare name (as cp --parents, rsync -R)\n"
    "      --failed-to F    write the names of the files that failed (with\n"
    "                       --check: that are not in normal form) to F, each\n"
    "                       ended by NUL, as given: --files-from F -0 reruns them\n"
    "  -j, --jobs N         convert N files at once (default: one per CPU this\n"
    "                       process may use); the log is the same\n"
    "  -q, --quiet          print only the summary line, and failed files on\n"
    "                       standard error\n"
    "  -h, --help           show this help and exit\n"
    "      --version        show the version and exit\n"
    "\n"
    "FILE may be a folder: every .tga file in it (with -r, below it; links to\n"
    "folders are not followed) is taken, and written under the same relative\n"
    "path below DIR. Each log line names the file as given, or by its path\n"
    "relative to the folder given (with --check, by its whole path).\n"
    "\n"
    "Examples:\n"
    "  tessary-cli -o fixed photo.tga logo.tga\n"
    "  tessary-cli -r -o fixed textures/\n"
    "  tessary-cli -r --skip-normal -p -o textures textures/\n"
    "  tessary-cli --check textures/*.tga\n"
    "  find assets -iname '*.tga' -print0 |\n"
    "      tessary-cli -0 --files-from - --base assets -o fixed --failed-to bad\n"
    "  tessary-cli -0 --files-from bad --base assets -o fixed\n"
    "\n"
    "Exit status: 0 when every file was converted or skipped (with --check:\n"
    "every file is in normal form); 1 when a file failed (with --check: could\n"
    "not be read); 2 for a usage error; 3 when the log or the --failed-to list\n"
    "could not be written; 4 with --check when every file was read but some\n"
    "are not in normal form; 130 or 143 when ended by SIGINT or SIGTERM.\n";

// Usage errors name the program, as every other message on standard error.
std::string FailureMessage(const CLI::App*, const CLI::Error& error) {
    return kProgramPrefix + Batch::ShownName(error.what()) +
           "\nRun with --help for more information.\n";
}

// The names --files-from gives, after those of the arguments.
bool ReadFilesFrom(CommandLine& commandLine) {
    const bool fromStandardInput = commandLine.filesFrom == "-";
#ifdef _WIN32
    std::FILE* stream = fromStandardInput
                            ? stdin
                            : ::_wfopen(Files::WidePath(commandLine.filesFrom).c_str(), L"rb");
#else
    std::FILE* stream = fromStandardInput ? stdin : std::fopen(commandLine.filesFrom.c_str(), "rb");
#endif
    std::string error;
    const bool read = stream != nullptr &&
                      ReadFileNames(stream, commandLine.nulSeparated, commandLine.inputs, error);
    if (stream == nullptr) {
        error = std::generic_category().message(errno);
    }
    if (stream != nullptr && !fromStandardInput) {
        std::fclose(stream);
    }
    if (!read) {
        std::fprintf(stderr, "%scannot read %s (%s)\n", kProgramPrefix,
                     Batch::ShownName(commandLine.filesFrom).c_str(), error.c_str());
    }
    return read;
}

// The help or the version is the whole of the run: one that did not reach
// standard output (`--help > /dev/full`) did not do its job.
int Shown(int status) {
    errno = 0;
    std::cout.flush();
    const bool written = std::fflush(stdout) == 0 && !std::ferror(stdout) && std::cout;
    if (!written) {
        std::fprintf(stderr, "%scannot write to standard output (%s)\n", kProgramPrefix,
                     std::generic_category().message(errno != 0 ? errno : EIO).c_str());
        return kExitNotDone;
    }
    return status;
}

}  // namespace

int ParseCommandLine(int argc, char** argv, CommandLine& commandLine) {
    CLI::App app("", "tessary-cli");
    app.formatter_fn([](const CLI::App*, std::string, CLI::AppFormatMode) { return kHelp; });
    app.failure_message(FailureMessage);
    app.set_version_flag("--version", std::string("tessary-cli ") + TESSARY_VERSION);

    auto* output = app.add_option("-o,--output", commandLine.outputFolder,
                                  "Destination folder, created when a file is written")
                       ->type_name("DIR");
    app.add_flag("-r,--recursive", commandLine.recursive,
                 "Take the .tga files below each folder FILE too");
    auto* rle = app.add_flag("--rle", commandLine.rle,
                             "Write run-length encoded files (Image Type 9, 10 or 11)");
    app.add_flag("--keep-alpha-bits", commandLine.keepAlphaBits,
                 "Keep the source's alpha-bit count in the Image Descriptor");
    auto* noClobber =
        app.add_flag("--no-clobber", commandLine.noClobber, "Skip files whose destination exists");
    auto* dryRun = app.add_flag("-n,--dry-run", commandLine.dryRun,
                                "Read every file; say what would be written and what replaced, "
                                "but write nothing");
    auto* check = app.add_flag("--check", commandLine.check,
                               "Write nothing; report whether each file is already in normal "
                               "form, and why not");
    auto* filesFrom = app.add_option("--files-from", commandLine.filesFrom,
                                     "Read more FILEs from F, one a line (- for standard input)")
                          ->type_name("F");
    app.add_flag("-0,--null", commandLine.nulSeparated,
                 "Names in --files-from end with NUL, as find -print0 writes them")
        ->needs(filesFrom);
    app.add_option("-j,--jobs", commandLine.jobs,
                   "Convert N files at once (default: one per core); the log is the same")
        ->type_name("N")
        ->check(CLI::Range(1u, 1024u));
    app.add_flag("-q,--quiet", commandLine.quiet,
                 "Print only the summary line, and failed files to standard error");
    auto* skipNormal = app.add_flag("--skip-normal", commandLine.skipNormal,
                                    "Leave files already in normal form alone");
    auto* preserve = app.add_flag("-p,--preserve-timestamps", commandLine.preserveTimestamps,
                                  "Give each written file its source's times");
    app.add_option("--failed-to", commandLine.failedTo, "Write the failed files' names to F")
        ->type_name("F");
    auto* base =
        app.add_option("--base", commandLine.base, "Write each file under its path below BASE")
            ->type_name("BASE");
    auto* files = app.add_option("FILE", commandLine.inputs, "TGA files or folders to convert")
                      ->type_name("");
    check->excludes(output)->excludes(rle)->excludes(noClobber)->excludes(dryRun);
    check->excludes(skipNormal)->excludes(preserve)->excludes(base);
    // Run-length output is not the normal form, so nothing would be skipped.
    skipNormal->excludes(rle);

    try {
        app.parse(argc, argv);
        if (!commandLine.check && commandLine.outputFolder.empty()) {
            throw CLI::RequiredError("-o,--output");
        }
        commandLine.filesFromGiven = filesFrom->count() > 0;
        if (!commandLine.filesFromGiven && files->count() == 0) {
            throw CLI::RequiredError("FILE");
        }
    } catch (const CLI::CallForHelp& help) {
        return Shown(app.exit(help));
    } catch (const CLI::CallForVersion& version) {
        return Shown(app.exit(version));
    } catch (const CLI::ParseError& error) {
        app.exit(error);
        return kExitUsageError;
    }
    if (commandLine.filesFromGiven && !ReadFilesFrom(commandLine)) {
        return kExitUsageError;
    }
    return -1;
}
