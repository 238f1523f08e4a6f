#include "tools/cli.h"

#include <getopt.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/path_names.h"
#include "tracker/song_length.h"

#ifndef PLINTH_VERSION
#define PLINTH_VERSION "unknown"
#endif

namespace plinth {
namespace {

const char kToolHelp[] =
    "Usage: plinth COMMAND [OPTION]... ARGUMENT...\n"
    "Converts audio files: resamples 16-bit PCM WAV files and renders tracker\n"
    "modules to WAV.\n"
    "\n"
    "Commands:\n"
    "  resample   resample WAV files to WAV files at another rate\n"
    "  mod2wav    render tracker modules to stereo 16-bit WAV files\n"
    "  info       describe WAV files and modules\n"
    "\n"
    "Options:\n"
    "  -h, --help     show this help and exit\n"
    "  -V, --version  show the version and exit\n"
    "\n"
    "Run 'plinth COMMAND --help' for the options of a command.\n"
    "Exit status: 0 when every conversion succeeded, 1 when any failed,\n"
    "2 for a usage error, 128 + the signal's number when interrupted.\n";

const char kResampleHelp[] =
    "Usage: plinth resample IN.wav OUT.wav --rate HZ [OPTION]...\n"
    "  or:  plinth resample --rate HZ -o DIR [OPTION]... IN.wav...\n"
    "Resamples WAV files into WAV files at HZ frames per second: by default into\n"
    "mono 16-bit PCM, with ResampleWav's filter and its bytes.\n"
    "Reads RIFF, RF64 and BW64 files with chunks in any order, any number of\n"
    "channels, and 8-bit unsigned, 16-, 24- or 32-bit integer or 32- or 64-bit\n"
    "float samples (also in the extensible format). For the standard filter,\n"
    "samples become 16-bit first: 8-bit as (u - 128) x 256, 24- and 32-bit as\n"
    "their top 16 bits and floats as x times 32768, rounded to nearest with ties\n"
    "away from zero, clamped to -32768..32767, never dithered. The high filter\n"
    "takes them as floats of full scale 1.0: integers scaled exactly (32-bit ones\n"
    "rounded to 24 significant bits), 64-bit floats rounded to 32-bit ones.\n"
    "\n"
    "  -r, --rate HZ         output rate in frames per second (required, 1000..384000)\n"
    "  -q, --quality WHICH   the filter: standard (default; ResampleWav's: about 80 dB\n"
    "                        SNR up to 0.2 of the lower rate, 36-41 dB up to 0.45,\n"
    "                        aliases 12 dB or more below their tone) or high (flat\n"
    "                        to 0.45 of the lower rate within 6.4e-8, 144 dB or\n"
    "                        more down from 0.5, no delay, the same bits on every\n"
    "                        machine; 16-bit output rounded to nearest)\n"
    "  -c, --channel WHICH   what a file of several channels becomes: first\n"
    "                        (default), second, N (channel N, from 1), mix (with\n"
    "                        the standard filter the integer sum of all channels\n"
    "                        divided by their count, rounded down; with the high\n"
    "                        filter their float mean), or all (every channel kept,\n"
    "                        each as --channel N gives it); a mono file ignores it\n"
    "      --format WHICH    the output's samples: s16 (16-bit PCM, default) or f32\n"
    "                        (32-bit IEEE float: the standard filter's 16-bit results\n"
    "                        divided by 32768, the high filter's own sums)\n"
    "  -v, --verbose         say how a file laid out otherwise than the canonical\n"
    "                        44-byte header was read (format converted, chunks\n"
    "                        skipped)\n"
    "  -o, --output-dir DIR  convert every input into DIR; each output is named\n"
    "                        after its input with the extension .wav\n"
    "  -j, --jobs N          run up to N conversions at once (default 1)\n"
    "  -f, --force           replace outputs that already exist\n"
    "  -h, --help            show this help and exit\n"
    "\n"
    "An output of one or two channels is a plain PCM or IEEE float WAV file, one of\n"
    "more channels a WAVE_FORMAT_EXTENSIBLE one. A file already at HZ is copied\n"
    "unfiltered when it is mono, or with the high filter; with the standard filter\n"
    "the channels of a file of several are filtered as ResampleWav filters them.\n"
    "A data chunk that claims more bytes than the file holds is read to the end of\n"
    "the file, with a warning; frames are as wide as the channels and bits make\n"
    "them, whatever the block-align field says. An output that is also an input of\n"
    "the same run is refused, even with --force.\n"
    "IN.wav may be - (or /dev/stdin) for standard input, a pipe too, and OUT.wav -\n"
    "(or /dev/stdout) for standard output, written as it is. A signal stops a\n"
    "conversion also while it waits on a pipe.\n"
    "Exit status: 0 when every conversion succeeded, 1 when any failed,\n"
    "2 for a usage error, 128 + the signal's number when interrupted.\n";

const char kMod2WavHelp[] =
    "Usage: plinth mod2wav IN.mod OUT.wav [OPTION]...\n"
    "  or:  plinth mod2wav -o DIR [OPTION]... IN.mod...\n"
    "Plays tracker modules and writes each as a stereo 16-bit PCM WAV file that\n"
    "ends where the song first loops.\n"
    "\n"
    "  -r, --rate HZ         output rate in frames per second (1000..384000);\n"
    "                        without it the rate is 8000\n"
    "  -o, --output-dir DIR  convert every input into DIR; each output is named\n"
    "                        after its input with the extension .wav\n"
    "  -j, --jobs N          run up to N conversions at once (default 1)\n"
    "  -f, --force           replace outputs that already exist\n"
    "      --max-duration S  refuse a render that lasts longer than S seconds with\n"
    "                        its loops and fade (default 3600; 0 for no limit but\n"
    "                        the 4 GiB size of a WAV file)\n"
    "      --loops N         play until the song has looped N times (1..1000;\n"
    "                        default 1, where it first loops)\n"
    "      --fade S          then go on for S seconds (up to 3 decimals) while the\n"
    "                        level falls linearly to silence\n"
    "      --loop-points     mark the loop in the output: a smpl chunk with one\n"
    "                        forward loop over the last loop's repeated part, and\n"
    "                        a cue chunk at its start, after the samples\n"
    "      --stems DIR       also write each channel alone (same mixer, panning,\n"
    "                        volume and length) to DIR/NAME-01.wav, DIR/NAME-02.wav,\n"
    "                        ..., NAME the input's name without its extension\n"
    "  -h, --help            show this help and exit\n"
    "\n"
    "The loop starts where the song first played the position it loops back to\n"
    "(for a song that never loops, where the cycle it repeats begins) and ends\n"
    "with the last frame of the loops; with --loops 2 it is the second pass, which\n"
    "starts with what the first left sounding, for a seamless loop.\n"
    "Examples: plinth mod2wav song.mod song.wav --loops 2 --fade 10 --loop-points\n"
    "          plinth mod2wav song.mod song.wav --stems parts   (parts/song-01.wav, ...)\n"
    "\n"
    "An output that is also an input of the same run is refused, even with --force;\n"
    "so are stems, which follow the same rules as the outputs.\n"
    "IN.mod may be - (or /dev/stdin) for standard input, a pipe too, read whole\n"
    "(not with --stems); OUT.wav - (or /dev/stdout) for standard output, written\n"
    "as it is.\n"
    "Exit status: 0 when every conversion succeeded, 1 when any failed,\n"
    "2 for a usage error, 128 + the signal's number when interrupted.\n";

const char kInfoHelp[] =
    "Usage: plinth info FILE...\n"
    "Describes WAV files (container, format, channels, bits, rate, the data\n"
    "chunk's size, and whether the samples really start at byte 44, where\n"
    "ResampleWav reads them) and tracker modules (layout, tag, channels, song length,\n"
    "samples, the duration until the song first loops at 8000 frames per\n"
    "second, and its loop). A WAV file's loop is that of its smpl chunk.\n"
    "FILE may be - (or /dev/stdin) for standard input, a pipe too: it is read\n"
    "forward only.\n"
    "Example: plinth info song.mod song.wav\n"
    "\n"
    "  -h, --help  show this help and exit\n"
    "\n"
    "Exit status: 0 when every file was described, 1 when any could not be,\n"
    "2 for a usage error.\n";

const char* commandName(Command command) {
    switch (command) {
        case Command::Resample: return "resample";
        case Command::Mod2Wav: return "mod2wav";
        case Command::Info: return "info";
    }
    return "";
}

ParseOutcome usageError(const char* context, const char* format, const char* detail) {
    std::fprintf(stderr, "plinth%s%s: ", context[0] != '\0' ? " " : "", context);
    std::fprintf(stderr, format, detail);
    std::fprintf(stderr, "\nTry 'plinth%s%s --help' for more information.\n", context[0] != '\0' ? " " : "",
                 context);
    return ParseOutcome::UsageError;
}

// Seconds with up to three decimals ("10", "2.5", "0.125"), at most `limit`
// milliseconds, as whole milliseconds.
bool parseMilliseconds(const char* text, uint32_t limit, uint32_t& milliseconds) {
    uint64_t value = 0;
    int digits = 0;
    int decimals = -1;  // digits after the point, -1 before it
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c == '.' && decimals < 0 && digits > 0) {
            decimals = 0;
            continue;
        }
        if (*c < '0' || *c > '9' || decimals == 3 || ++digits > 12) return false;
        value = value * 10 + static_cast<uint64_t>(*c - '0');
        if (decimals >= 0) ++decimals;
    }
    if (digits == 0 || decimals == 0) return false;
    for (int d = decimals < 0 ? 0 : decimals; d < 3; ++d) value *= 10;
    if (value > limit) return false;
    milliseconds = static_cast<uint32_t>(value);
    return true;
}

// A decimal number of at most nine digits, nothing else.
bool parseCount(const char* text, int& value) {
    const std::size_t length = std::strlen(text);
    if (length == 0 || length > 9) return false;
    int result = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        result = result * 10 + (text[i] - '0');
    }
    value = result;
    return true;
}

}  // namespace

std::string closedDescriptorRefusal(const std::string& path, bool isInput, unsigned closedDescriptors) {
    int fd = -1;
    if (!namesHeldDescriptor(path, isInput ? StreamDirection::input : StreamDirection::output, fd)) return {};
    if (fd < 0 || fd > 2 || (closedDescriptors & (1u << fd)) == 0) return {};
    static const char* const kNames[] = {"standard input", "standard output", "standard error"};
    return path + ": " + kNames[fd] + " is closed";
}

ParseOutcome parseCommandLine(int argc, char** argv, Options& options) {
    options = Options{};
    if (argc < 2) return usageError("", "%s", "no command given");

    const char* first = argv[1];
    if (std::strcmp(first, "-h") == 0 || std::strcmp(first, "--help") == 0) {
        std::fputs(kToolHelp, stdout);
        return ParseOutcome::Done;
    }
    if (std::strcmp(first, "-V") == 0 || std::strcmp(first, "--version") == 0) {
        std::printf("plinth %s\n", PLINTH_VERSION);
        return ParseOutcome::Done;
    }
    const char* help = nullptr;
    if (std::strcmp(first, "resample") == 0) {
        options.command = Command::Resample;
        options.conversion.kind = ConversionKind::resample;
        help = kResampleHelp;
    } else if (std::strcmp(first, "mod2wav") == 0) {
        options.command = Command::Mod2Wav;
        options.conversion.kind = ConversionKind::module;
        help = kMod2WavHelp;
    } else if (std::strcmp(first, "info") == 0) {
        options.command = Command::Info;
        help = kInfoHelp;
    } else if (first[0] == '-') {
        return usageError("", "unknown option '%s'", first);
    } else {
        return usageError("", "unknown command '%s'", first);
    }
    const char* name = commandName(options.command);
    const bool converts = options.command != Command::Info;

    static const struct option kResampleOptions[] = {
        {"rate", required_argument, nullptr, 'r'},       {"channel", required_argument, nullptr, 'c'},
        {"quality", required_argument, nullptr, 'q'},    {"format", required_argument, nullptr, 'E'},
        {"output-dir", required_argument, nullptr, 'o'}, {"jobs", required_argument, nullptr, 'j'},
        {"force", no_argument, nullptr, 'f'},            {"verbose", no_argument, nullptr, 'v'},
        {"help", no_argument, nullptr, 'h'},             {nullptr, 0, nullptr, 0}};
    static const struct option kModOptions[] = {
        {"rate", required_argument, nullptr, 'r'},  {"output-dir", required_argument, nullptr, 'o'},
        {"jobs", required_argument, nullptr, 'j'},  {"force", no_argument, nullptr, 'f'},
        {"max-duration", required_argument, nullptr, 'D'},
        {"loops", required_argument, nullptr, 'L'}, {"fade", required_argument, nullptr, 'F'},
        {"loop-points", no_argument, nullptr, 'P'}, {"stems", required_argument, nullptr, 'S'},
        {"help", no_argument, nullptr, 'h'},        {nullptr, 0, nullptr, 0}};
    static const struct option kInfoOptions[] = {{"help", no_argument, nullptr, 'h'}, {nullptr, 0, nullptr, 0}};
    const bool resample = options.command == Command::Resample;
    const struct option* longOptions = !converts ? kInfoOptions : resample ? kResampleOptions : kModOptions;
    const char* shortOptions = !converts ? ":h" : resample ? ":r:c:q:o:j:fvh" : ":r:o:j:fh";

    // The command's own arguments, with the command in the place of the program name.
    const int commandArgc = argc - 1;
    char** commandArgv = argv + 1;
    optind = 0;  // a full reset of getopt's scan
    opterr = 0;
    for (;;) {
        optopt = 0;
        const int option = getopt_long(commandArgc, commandArgv, shortOptions, longOptions, nullptr);
        if (option == -1) break;
        // The option at fault: a short one by its letter, a long one as written.
        char shortName[3] = {'-', static_cast<char>(optopt), '\0'};
        const char* current = optopt != 0 ? shortName : commandArgv[optind - 1];
        switch (option) {
            case 'h':
                std::fputs(help, stdout);
                return ParseOutcome::Done;
            case 'r': {
                int& rate = options.conversion.rate;
                if (!parseCount(optarg, rate) || rate < kMinRate || rate > kMaxRate)
                    return usageError(name, "invalid rate '%s' (frames per second, 1000 to 384000)", optarg);
                break;
            }
            case 'c': {
                int number = 0;
                ChannelChoice& channel = options.conversion.channel;
                channel = ChannelChoice{};  // the last --channel given counts
                if (std::strcmp(optarg, "first") == 0) {
                    channel.channel = 0;
                } else if (std::strcmp(optarg, "second") == 0) {
                    channel.channel = 1;
                } else if (std::strcmp(optarg, "mix") == 0) {
                    channel.mix = true;
                } else if (std::strcmp(optarg, "all") == 0) {
                    channel.all = true;
                } else if (parseCount(optarg, number) && number >= 1 && number <= kMaxWavChannels) {
                    channel.channel = number - 1;
                } else {
                    return usageError(name,
                                      "invalid channel '%s' (first, second, mix, all, or a number from 1 to 65535)",
                                      optarg);
                }
                break;
            }
            case 'q':
                if (std::strcmp(optarg, "standard") == 0) {
                    options.conversion.quality = FilterQuality::standard;
                } else if (std::strcmp(optarg, "high") == 0) {
                    options.conversion.quality = FilterQuality::high;
                } else {
                    return usageError(name, "invalid quality '%s' (standard or high)", optarg);
                }
                break;
            case 'E':
                if (std::strcmp(optarg, "s16") == 0) {
                    options.conversion.format = WavSampleFormat::signed16;
                } else if (std::strcmp(optarg, "f32") == 0) {
                    options.conversion.format = WavSampleFormat::float32;
                } else {
                    return usageError(name, "invalid format '%s' (s16 or f32)", optarg);
                }
                break;
            case 'v':
                options.conversion.verbose = true;
                break;
            case 'o':
                if (optarg[0] == '\0') return usageError(name, "%s", "empty output folder name");
                options.outputDir = optarg;
                options.batch = true;
                break;
            case 'j':
                if (!parseCount(optarg, options.jobs) || options.jobs < 1 || options.jobs > kMaxJobs)
                    return usageError(name, "invalid job count '%s' (1 to 256)", optarg);
                break;
            case 'f':
                options.force = true;
                break;
            case 'D':
                if (!parseCount(optarg, options.conversion.maxDurationSeconds))
                    return usageError(name, "invalid duration '%s' (whole seconds, 0 for no limit)", optarg);
                break;
            case 'L':
                if (!parseCount(optarg, options.conversion.loops) || options.conversion.loops < 1 ||
                    options.conversion.loops > kMaxLoops)
                    return usageError(name, "invalid loop count '%s' (1 to 1000)", optarg);
                break;
            case 'F':
                if (!parseMilliseconds(optarg, kMaxFadeMilliseconds, options.conversion.fadeMilliseconds))
                    return usageError(name, "invalid fade '%s' (seconds, up to 3 decimals, at most 3600)", optarg);
                break;
            case 'P':
                options.conversion.loopPoints = true;
                break;
            case 'S':
                if (optarg[0] == '\0') return usageError(name, "%s", "empty stems folder name");
                options.stemsDir = optarg;
                break;
            case ':':
                return usageError(name, "option '%s' needs a value", commandArgv[optind - 1]);
            default:
                return usageError(name, "unknown option '%s'", current);
        }
    }

    std::vector<std::string> operands(commandArgv + optind, commandArgv + commandArgc);
    if (!converts) {
        if (operands.empty()) return usageError(name, "%s", "no file given");
        options.inputs = operands;
        return ParseOutcome::Run;
    }
    if (options.command == Command::Resample && options.conversion.rate == 0)
        return usageError(name, "%s", "missing --rate");
    if (options.batch) {
        if (operands.empty()) return usageError(name, "%s", "no input given");
        options.inputs = operands;
        return ParseOutcome::Run;
    }
    if (operands.size() < 2)
        return usageError(name, "%s", operands.empty() ? "missing input and output" : "missing output");
    if (operands.size() > 2)
        return usageError(name, "%s", "more than one input needs -o DIR");
    if (operands[0].empty() || operands[1].empty()) return usageError(name, "%s", "empty file name");
    options.inputs.push_back(operands[0]);
    options.output = operands[1];
    return ParseOutcome::Run;
}

}  // namespace plinth
