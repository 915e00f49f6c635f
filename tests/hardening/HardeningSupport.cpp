#include "HardeningSupport.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "codec/ReadTGA.h"
#include "codec/WriteTGA.h"
#include "gfxstream/MemoryInputStream.h"
#include "gfxstream/MemoryOutputStream.h"
#include "gfxstream/OutputStream.h"

using namespace Codec;

namespace fs = std::filesystem;

namespace {

void PutWord(Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

std::uint32_t Next(std::uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

// Packets of one row: repeats of two or more become runs, everything else
// raw packets, none longer than 128 pixels.
void EncodeRow(Bytes& out, const std::uint8_t* row, std::size_t width, std::size_t bpp) {
    const auto same = [&](std::size_t a, std::size_t b) {
        return std::memcmp(row + a * bpp, row + b * bpp, bpp) == 0;
    };
    std::size_t x = 0;
    while (x < width) {
        std::size_t run = 1;
        while (x + run < width && run < 128 && same(x, x + run)) {
            ++run;
        }
        if (run >= 2) {
            out.push_back(static_cast<std::uint8_t>(0x80 + run - 1));
            out.insert(out.end(), row + x * bpp, row + (x + 1) * bpp);
            x += run;
            continue;
        }
        std::size_t raw = 1;
        while (x + raw < width && raw < 128 &&
               !(x + raw + 1 < width && same(x + raw, x + raw + 1))) {
            ++raw;
        }
        out.push_back(static_cast<std::uint8_t>(raw - 1));
        out.insert(out.end(), row + x * bpp, row + (x + raw) * bpp);
        x += raw;
    }
}

}  // namespace

std::vector<std::string> TemporaryFiles(const std::string& folder) {
    std::vector<std::string> found;
    for (const std::string& name : Listing(folder)) {
        if (name.size() > 4 && name[0] == '.' && name.find(".tessary-") != std::string::npos &&
            name.compare(name.size() - 4, 4, ".tmp") == 0) {
            found.push_back(name);
        }
    }
    return found;
}

Bytes MakeTga(const TgaSpec& spec) {
    const int imageClass = spec.imageType & 7;
    const bool rle = spec.imageType > 3;
    const std::size_t bpp = spec.depth / 8u;
    const bool mapped = spec.mapLength != 0;
    Bytes out;
    out.push_back(spec.idLength);
    out.push_back(mapped ? 1 : 0);
    out.push_back(spec.imageType);
    PutWord(out, 0);
    PutWord(out, spec.mapLength);
    out.push_back(mapped ? spec.mapEntryBits : 0);
    PutWord(out, 3);  // origins, carried through
    PutWord(out, 5);
    PutWord(out, spec.width);
    PutWord(out, spec.height);
    out.push_back(spec.depth);
    out.push_back(spec.descriptor);
    std::uint32_t state = spec.seed;
    for (std::uint8_t i = 0; i < spec.idLength; ++i) {
        out.push_back(static_cast<std::uint8_t>('a' + i % 26));
    }
    const std::size_t entryBytes = (spec.mapEntryBits + 7u) / 8u;
    for (std::size_t i = 0; i < std::size_t{spec.mapLength} * entryBytes; ++i) {
        out.push_back(static_cast<std::uint8_t>(Next(state)));
    }
    Bytes row(std::size_t{spec.width} * bpp);
    for (std::uint32_t y = 0; y < spec.height; ++y) {
        // Stretches of equal pixels between random ones, so that run-length
        // rows hold both kinds of packet.
        for (std::size_t x = 0; x < spec.width; ++x) {
            const bool repeat = x > 0 && Next(state) % 3 != 0;
            for (std::size_t b = 0; b < bpp; ++b) {
                std::uint8_t value = static_cast<std::uint8_t>(Next(state));
                if (imageClass == 1 && b == 0 && spec.mapLength != 0) {
                    value = static_cast<std::uint8_t>(value %
                                                      std::min<std::uint32_t>(spec.mapLength, 256));
                }
                row[x * bpp + b] = repeat ? row[(x - 1) * bpp + b] : value;
            }
        }
        if (rle && !spec.packetsCrossRows) {
            EncodeRow(out, row.data(), spec.width, bpp);
        } else {
            out.insert(out.end(), row.begin(), row.end());
        }
    }
    if (rle && spec.packetsCrossRows) {
        // The stored rows as one run of pixels, encoded as a whole.
        const std::size_t pixelBytes = std::size_t{spec.width} * spec.height * bpp;
        const Bytes pixels(out.end() - long(pixelBytes), out.end());
        out.erase(out.end() - long(pixelBytes), out.end());
        EncodeRow(out, pixels.data(), std::size_t{spec.width} * spec.height, bpp);
    }
    return out;
}

std::vector<std::pair<std::string, Bytes>> GeneratedFiles() {
    struct Variant {
        std::uint8_t type, depth;
        std::uint16_t mapLength;
        std::uint8_t entryBits;
    };
    const Variant variants[] = {
        {1, 8, 7, 24},  {1, 8, 256, 16}, {1, 16, 300, 32}, {2, 16, 0, 0},  {2, 24, 0, 0},
        {2, 32, 0, 0},  {3, 8, 0, 0},    {3, 16, 0, 0},    {9, 8, 20, 15}, {9, 16, 40, 24},
        {10, 16, 0, 0}, {10, 24, 0, 0},  {10, 32, 0, 0},   {11, 8, 0, 0},  {11, 16, 0, 0},
    };
    const std::uint8_t orientations[] = {0x00, 0x10, 0x20, 0x30};
    std::vector<std::pair<std::string, Bytes>> files;
    std::uint32_t seed = 7;
    for (const Variant& v : variants) {
        for (const std::uint8_t descriptor : orientations) {
            TgaSpec spec;
            spec.imageType = v.type;
            spec.depth = v.depth;
            spec.mapLength = v.mapLength;
            spec.mapEntryBits = v.entryBits;
            spec.descriptor = descriptor;
            spec.width = static_cast<std::uint16_t>(5 + seed % 11);
            spec.height = static_cast<std::uint16_t>(2 + seed % 3);
            spec.idLength = static_cast<std::uint8_t>(seed % 4 == 0 ? 9 : 0);
            spec.seed = seed++;
            std::ostringstream name;
            name << "type" << int(v.type) << "-" << int(v.depth) << "bit-map" << v.mapLength
                 << "-desc" << std::hex << int(descriptor);
            files.emplace_back(name.str(), MakeTga(spec));
        }
    }
    // Rows longer than one packet can hold.
    TgaSpec wide;
    wide.imageType = 10;
    wide.width = 300;
    wide.height = 2;
    files.emplace_back("type10-24bit-wide", MakeTga(wide));
    // Narrow rows, with packets that carry on from one row into the next.
    TgaSpec across;
    across.imageType = 11;
    across.depth = 8;
    across.width = 3;
    across.height = 40;
    across.packetsCrossRows = true;
    files.emplace_back("type11-8bit-packets-across-rows", MakeTga(across));
    across.imageType = 10;
    across.depth = 32;
    across.descriptor = 0x30;
    files.emplace_back("type10-32bit-packets-across-rows-top-right", MakeTga(across));
    return files;
}

Bytes NormalForm(const Bytes& file) {
    GFXStream::MemoryInputStream in(file.data(), file.size());
    const std::unique_ptr<Image> image = ReadTGA(in, nullptr, nullptr);
    GFXStream::MemoryOutputStream stream;
    WriteTGA(stream, *image, false);
    return stream.bytes;
}

std::vector<std::string> CorpusSample(std::size_t count) {
    std::vector<std::string> all;
    std::error_code error;
    for (fs::recursive_directory_iterator it(CorpusDir(), error), end; !error && it != end;
         it.increment(error)) {
        std::string extension = it->path().extension().string();
        std::transform(extension.begin(), extension.end(), extension.begin(),
                       [](char c) { return static_cast<char>(std::tolower(c)); });
        if (it->is_regular_file(error) && extension == ".tga") {
            all.push_back(it->path().string());
        }
    }
    std::sort(all.begin(), all.end());
    if (all.size() <= count) {
        return all;
    }
    std::vector<std::string> picked;
    for (std::size_t i = 0; i < count; ++i) {
        picked.push_back(all[i * all.size() / count]);
    }
    return picked;
}

std::string CliPath() {
#ifdef TESSARY_CLI_PATH
    return TESSARY_CLI_PATH;
#else
    return {};
#endif
}

namespace {

// Another user may not reach the build (a checkout under a 0700 folder such
// as /root): runs as another user take copies from a folder all may enter.
std::string Reachable(const std::string& path) {
    static const TempDir folder;
    const fs::path copy = folder.path() / fs::path(path).filename();
    std::error_code error;
    if (!fs::exists(copy, error)) {
        fs::copy_file(path, copy, error);  // with its mode
    }
    return copy.string();
}

[[noreturn]] void ExecCli(const std::vector<std::string>& arguments, const ProcessOptions& options,
                          const std::string& outputFile, const std::string& cli,
                          const std::string& preload) {
    const int fd = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::dup2(fd, 1) < 0 || ::dup2(fd, 2) < 0) {
        ::_exit(126);
    }
    if (!options.workingFolder.empty() && ::chdir(options.workingFolder.c_str()) != 0) {
        ::_exit(126);
    }
    if (options.fileSizeLimit) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{*options.fileSizeLimit, *options.fileSizeLimit};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            ::_exit(126);
        }
    }
    if (options.addressSpaceLimit) {
        const rlimit limit{*options.addressSpaceLimit, *options.addressSpaceLimit};
        if (::setrlimit(RLIMIT_AS, &limit) != 0) {
            ::_exit(126);
        }
    }
    if (options.user) {
        const auto group = static_cast<gid_t>(*options.user);
        if (::setgroups(0, nullptr) != 0 || ::setgid(group) != 0 || ::setuid(*options.user) != 0) {
            ::_exit(126);
        }
    }
    if (options.noAnonymousFiles) {
#ifdef TESSARY_NO_ANONYMOUS_FILES
        ::setenv("LD_PRELOAD", preload.c_str(), 1);
        ::setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
#endif
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(cli.c_str()));
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    ::execv(cli.c_str(), argv.data());
    ::_exit(127);
}

std::string OutputFileFor(const ProcessOptions& options) {
    static int counter = 0;
    return (fs::temp_directory_path() / ("tessary-hardening-out-" + std::to_string(::getpid()) +
                                         "-" + std::to_string(counter++)))
               .string() +
           (options.user ? "-u" : "");
}

}  // namespace

ProcessResult RunCli(const std::vector<std::string>& arguments, const ProcessOptions& options) {
    const std::string outputFile = OutputFileFor(options);
    return WaitFor(StartCli(arguments, outputFile, options), outputFile);
}

pid_t StartCli(const std::vector<std::string>& arguments, const std::string& outputFile,
               const ProcessOptions& options) {
    std::string preload;
#ifdef TESSARY_NO_ANONYMOUS_FILES
    preload = TESSARY_NO_ANONYMOUS_FILES;
#endif
    const bool copied = options.user.has_value();
    const std::string cli = copied ? Reachable(CliPath()) : CliPath();
    preload = copied && options.noAnonymousFiles ? Reachable(preload) : preload;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ExecCli(arguments, options, outputFile, cli, preload);
    }
    return pid;
}

ProcessResult WaitFor(pid_t pid, const std::string& outputFile) {
    ProcessResult result;
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid) {
        if (WIFEXITED(status)) {
            result.exitStatus = WEXITSTATUS(status);
        } else if (WIFSIGNALED(status)) {
            result.signal = WTERMSIG(status);
        }
    }
    if (auto bytes = ReadBytes(outputFile)) {
        result.output.assign(bytes->begin(), bytes->end());
    }
    ::unlink(outputFile.c_str());
    return result;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}
