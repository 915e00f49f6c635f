#include "app/cli/CommandLine.h"

#include <CLI/CLI.hpp>

#ifndef TESSARY_VERSION
#define TESSARY_VERSION "unknown"
#endif

namespace {

constexpr const char* kDescription =
    "Repairs Targa (TGA) images: reads every file, whichever TGA variant it is\n"
    "stored in, and writes it again into DIR under its own name as a plain TGA\n"
    "(no image ID, uncompressed, rows bottom-up from left to right, a 24-bit\n"
    "colour map where there is one). An existing file is replaced only once\n"
    "its new content is complete.";

constexpr const char* kFooter =
    "FILE may be a folder: every .tga file in it (with -r, below it) is taken,\n"
    "and written under the same relative path below DIR.\n"
    "\n"
    "Examples:\n"
    "  tessary-cli -o fixed photo.tga logo.tga\n"
    "  tessary-cli -r -o fixed textures/\n"
    "  tessary-cli --check textures/*.tga\n"
    "\n"
    "Exit status: 0 when every file was converted (with --check: every file is\n"
    "in normal form), 1 when any was not, 2 for a usage error.";

}  // namespace

int ParseCommandLine(int argc, char** argv, CommandLine& commandLine) {
    CLI::App app(kDescription, "tessary-cli");
    app.footer(kFooter);
    app.set_version_flag("--version", std::string("tessary-cli ") + TESSARY_VERSION);

    auto* output = app.add_option("-o,--output", commandLine.outputFolder,
                                  "Destination folder, created when missing")
                       ->type_name("DIR");
    app.add_flag("-r,--recursive", commandLine.recursive,
                 "Take the .tga files below each folder FILE, not only those in it");
    auto* rle = app.add_flag("--rle", commandLine.rle,
                             "Write run-length encoded files (Image Type 9, 10 or 11)");
    auto* check = app.add_flag("--check", commandLine.check,
                               "Write nothing; report whether each file is already in normal "
                               "form, and why not");
    app.add_option("-j,--jobs", commandLine.jobs,
                   "Convert N files at once (default: one per core); the log is the same")
        ->type_name("N")
        ->check(CLI::Range(1u, 1024u));
    app.add_flag("-q,--quiet", commandLine.quiet, "Print only the summary line");
    app.add_option("FILE", commandLine.inputs, "TGA files or folders to convert")
        ->required()
        ->type_name("");
    check->excludes(output)->excludes(rle);

    try {
        app.parse(argc, argv);
        if (!commandLine.check && commandLine.outputFolder.empty()) {
            throw CLI::RequiredError("-o,--output");
        }
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForVersion& version) {
        return app.exit(version);
    } catch (const CLI::ParseError& error) {
        app.exit(error);
        return kExitUsageError;
    }
    return -1;
}
