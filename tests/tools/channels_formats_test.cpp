// `plinth resample --channel all`, `--quality high` and `--format f32`: every
// channel kept is exactly that channel converted alone, float outputs hold the
// filter's samples, headers are what other readers take, and the high filter
// takes every sample format as exact floats. Inputs are written by Python, and
// outputs read back by independent readers: Python's wave module, libsndfile
// (through Python's ctypes, and sndfile-info) and sox.

#include <sys/resource.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "plinth/resample_wav.h"
#include "tests/tools/tool_test_support.h"

using namespace tooltest;

namespace {

const char kPythonHelper[] = R"PY(
import random, struct, sys, wave

def single(x):  # the float nearest to x (ties to even), as a Python float
    return struct.unpack('<f', struct.pack('<f', x))[0]

command, out = sys.argv[1], sys.argv[2]
if command == 'formats':
    # The same random signal in every format, and beside each its samples as
    # the exact floats the high filter must take: 8-bit (u - 128) / 128, 16-bit
    # x / 2^15, 24-bit x / 2^23, 32-bit the float nearest x / 2^31, 64-bit
    # floats the nearest float.
    rate, channels, count = (int(a) for a in sys.argv[3:6])
    rng = random.Random(channels * 1000 + count)
    frames = [[rng.randint(-2**31, 2**31 - 1) for c in range(channels)] for t in range(count)]
    for name, width, shift in (('u8', 1, 24), ('s16', 2, 16), ('s24', 3, 8), ('s32', 4, 0)):
        ints = [[v >> shift for v in f] for f in frames]
        write_pcm(out + name + '.wav', rate, width, channels, ints)
        scale = 2.0 ** (8 * width - 1)
        write_float(out + name + '.exact.wav', rate, 'f', channels, [[single(v / scale) for v in f] for f in ints])
    doubles = [[v / 2.0**31 * 1.25 for v in f] for f in frames]  # some beyond full scale
    write_float(out + 'f64.wav', rate, 'd', channels, doubles)
    write_float(out + 'f64.exact.wav', rate, 'f', channels, [[single(v) for v in f] for f in doubles])
elif command == 'noise':  # 16-bit PCM noise, any channel count
    rate, channels, count = (int(a) for a in sys.argv[3:6])
    rng = random.Random(channels + count)
    write_pcm(out, rate, 2, channels, [[rng.randint(-32768, 32767) for c in range(channels)] for t in range(count)])
elif command == 'wide':  # random 16-bit PCM of many channels, written whole
    rate, channels, count = (int(a) for a in sys.argv[3:6])
    with wave.open(out, 'wb') as w:
        w.setnchannels(channels); w.setsampwidth(2); w.setframerate(rate)
        w.writeframes(random.Random(channels).randbytes(2 * channels * count))
elif command == 'chunks':  # a 16-bit file of any channel count read chunk by chunk, as `wave` prints and writes it
    data = open(out, 'rb').read()
    assert data[:4] == b'RIFF' and data[8:12] == b'WAVE'
    at, chunks = 12, {}
    while at + 8 <= len(data):
        name, size = data[at:at + 4], struct.unpack('<I', data[at + 4:at + 8])[0]
        chunks[name] = data[at + 8:at + 8 + size]
        at += 8 + size + (size & 1)
    tag, channels, rate, _, align, bits = struct.unpack('<HHIIHH', chunks[b'fmt '][:16])
    assert bits == 16 and align == 2 * channels and tag in (1, 0xFFFE)
    open(sys.argv[3], 'wb').write(chunks[b'data'])
    print(channels, rate, len(chunks[b'data']) // align)
elif command == 'floats':  # float32 noise within full scale, then values far beyond it
    rate, channels, count = (int(a) for a in sys.argv[3:6])
    rng = random.Random(count)
    frames = [[single(rng.uniform(-1, 1)) for c in range(channels)] for t in range(count)]
    frames[1][0], frames[2][0], frames[3][0] = 1e9, -float('inf'), float('nan')
    write_float(out, rate, 'f', channels, frames)
elif command == 'sndfile':  # samples as libsndfile reads them (16-bit or float, as the file holds them), to a file
    import ctypes, ctypes.util
    class Info(ctypes.Structure):
        _fields_ = [('frames', ctypes.c_int64), ('samplerate', ctypes.c_int), ('channels', ctypes.c_int),
                    ('format', ctypes.c_int), ('sections', ctypes.c_int), ('seekable', ctypes.c_int)]
    library = ctypes.CDLL(ctypes.util.find_library('sndfile') or 'libsndfile.so.1')
    library.sf_open.restype = ctypes.c_void_p
    library.sf_open.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.POINTER(Info)]
    library.sf_readf_float.argtypes = library.sf_readf_short.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int64]
    library.sf_readf_float.restype = library.sf_readf_short.restype = ctypes.c_int64
    library.sf_close.argtypes = [ctypes.c_void_p]
    info = Info()
    handle = library.sf_open(out.encode(), 0x10, ctypes.byref(info))  # SFM_READ
    assert handle, out
    floats = (info.format & 0xFFFF) == 6  # SF_FORMAT_FLOAT
    items = (ctypes.c_float if floats else ctypes.c_short) * (info.frames * info.channels)
    buffer = items()
    read = (library.sf_readf_float if floats else library.sf_readf_short)(handle, buffer, info.frames)
    library.sf_close(handle)
    assert read == info.frames
    open(sys.argv[3], 'wb').write(bytes(buffer))
    print(info.channels, info.samplerate, info.frames, 'float' if floats else 'pcm16')
elif command == 'wave':  # a 16-bit file as Python's wave module reads it: "channels rate frames", data to a file
    with wave.open(out, 'rb') as r:
        assert r.getsampwidth() == 2
        open(sys.argv[3], 'wb').write(r.readframes(r.getnframes()))
        print(r.getnchannels(), r.getframerate(), r.getnframes())
)PY";

std::vector<float> floatsOf(const Bytes& bytes) {
    std::vector<float> values(bytes.size() / 4);
    std::memcpy(values.data(), bytes.data(), values.size() * 4);
    return values;
}

std::vector<int16_t> int16sOf(const Bytes& bytes) {
    std::vector<int16_t> values(bytes.size() / 2);
    std::memcpy(values.data(), bytes.data(), values.size() * 2);
    return values;
}

// Column c of interleaved samples of `width` bytes in `channels` channels.
Bytes column(const Bytes& interleaved, int channels, int c, int width) {
    Bytes out;
    for (std::size_t at = static_cast<std::size_t>(c * width); at + static_cast<std::size_t>(width) <= interleaved.size();
         at += static_cast<std::size_t>(channels * width)) {
        out.insert(out.end(), interleaved.begin() + static_cast<std::ptrdiff_t>(at),
                   interleaved.begin() + static_cast<std::ptrdiff_t>(at) + width);
    }
    return out;
}

// Runs the tool in a child whose address space is limited to `bytes` (not
// under the sanitizers, whose shadow memory alone passes any such limit); its
// exit status, -1 when it did not exit.
int runToolWithin(rlim_t bytes, const std::vector<std::string>& args, const std::string& errPath) {
    ToolCommandLine command(args);
    const pid_t pid = fork();
    if (pid == 0) {
#ifndef PLINTH_SANITIZED
        const rlimit limit{bytes, bytes};
        if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(125);
#else
        (void)bytes;
#endif
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (err < 0 || dup2(err, 2) != 2) _exit(126);
        execv(PLINTH_TOOL, command.argv());
        _exit(127);
    }
    int wstatus = 0;
    if (pid < 0 || waitpid(pid, &wstatus, 0) != pid || !WIFEXITED(wstatus)) return -1;
    return WEXITSTATUS(wstatus);
}

class ChannelsAndFormats : public ::testing::Test {
protected:
    void SetUp() override {
        if (!have("/usr/bin/python3")) GTEST_SKIP() << "needs /usr/bin/python3";
        writeBytes(dir / "helper.py", pythonScript(kPythonHelper));
        if (std::system("/usr/bin/python3 -c \"import ctypes.util, sys; sys.exit(not ctypes.util.find_library('sndfile'))\"") != 0) {
            GTEST_SKIP() << "needs libsndfile to read outputs";
        }
    }

    void python(const std::string& arguments) {
        ASSERT_EQ(std::system(("/usr/bin/python3 '" + dir / "helper.py" + "' " + arguments).c_str()), 0) << arguments;
    }

    // Converts with the tool; the output's path.
    std::string convert(const std::string& input, int rate, std::vector<std::string> options) {
        const std::string output = dir / ("out-" + std::to_string(++outputs) + ".wav");
        std::vector<std::string> args = {"resample", input, output, "--rate", std::to_string(rate)};
        args.insert(args.end(), options.begin(), options.end());
        last = runTool(args);
        EXPECT_EQ(last.status, 0) << input << "\n" << last.err;
        return output;
    }

    // The samples of a WAV file as libsndfile reads them, as raw bytes: 16-bit
    // integers or 32-bit floats, interleaved, as the file holds them.
    Bytes sndfileSamples(const std::string& path, bool floats) {
        const std::string raw = dir / ("raw-" + std::to_string(++outputs) + ".raw");
        const std::string said =
            shellOutput("/usr/bin/python3 '" + dir / "helper.py" + "' sndfile '" + path + "' '" + raw + "'");
        EXPECT_NE(said.find(floats ? " float\n" : " pcm16\n"), std::string::npos) << path << ": " << said;
        return readBytes(raw);
    }

    // A 16-bit file's samples as the Python helper's reader `mode` reads them:
    // "wave" (Python's wave module, one or two channels) or "chunks" (a
    // chunk-by-chunk reader, any channel count).
    Bytes pythonSamples(const std::string& mode, const std::string& path, const std::string& expectedShape) {
        const std::string raw = dir / (mode + "-" + std::to_string(++outputs) + ".raw");
        EXPECT_EQ(shellOutput("/usr/bin/python3 '" + dir / "helper.py" + "' " + mode + " '" + path + "' '" + raw + "'"),
                  expectedShape + "\n")
            << path;
        return readBytes(raw);
    }
    Bytes waveSamples(const std::string& path, const std::string& shape) { return pythonSamples("wave", path, shape); }
    Bytes chunkSamples(const std::string& path, const std::string& shape) {
        return pythonSamples("chunks", path, shape);
    }

    TempDir dir;
    int outputs = 0;
    RunResult last;
};

TEST_F(ChannelsAndFormats, EveryChannelKeptIsThatChannelConvertedAlone) {
    python("noise '" + dir / "stereo.wav" + "' 44100 2 9000");
    python("formats '" + dir / "six-" + "' 48000 6 7000");
    python("formats '" + dir / "three-" + "' 22050 3 5000");
    struct Case {
        std::string input;
        int channels;
        int rate;
    };
    const Case cases[] = {{dir / "stereo.wav", 2, 16000}, {dir / "six-s16.wav", 6, 44100},
                          {dir / "three-s24.wav", 3, 8000}, {dir / "three-f64.wav", 3, 48000}};
    for (const Case& c : cases) {
        for (const char* quality : {"standard", "high"}) {
            for (const char* format : {"s16", "f32"}) {
                const bool floats = std::strcmp(format, "f32") == 0;
                const int width = floats ? 4 : 2;
                const std::string all =
                    convert(c.input, c.rate, {"--channel", "all", "--quality", quality, "--format", format});
                const Bytes kept = sndfileSamples(all, floats);
                ASSERT_FALSE(kept.empty());
                for (int channel = 0; channel < c.channels; ++channel) {
                    const std::string alone = convert(c.input, c.rate, {"--channel", std::to_string(channel + 1),
                                                                        "--quality", quality, "--format", format});
                    EXPECT_EQ(column(kept, c.channels, channel, width), sndfileSamples(alone, floats))
                        << c.input << " " << quality << " " << format << " channel " << channel + 1;
                }
            }
        }
    }
    // With the default filter each channel of a canonical stereo file is ResampleWav's output for it.
    const std::string all = convert(dir / "stereo.wav", 16000, {"--channel", "all"});
    const Bytes both = waveSamples(all, "2 16000 3266");
    for (int channel = 0; channel < 2; ++channel) {
        const std::string expected = dir / ("lib" + std::to_string(channel) + ".wav");
        ASSERT_EQ(ResampleWav(wide(dir / "stereo.wav").c_str(), wide(expected).c_str(), 16000, channel), 1);
        EXPECT_EQ(column(both, 2, channel, 2), waveSamples(expected, "1 16000 3266")) << channel;
    }
}

TEST_F(ChannelsAndFormats, FloatOutputsHoldTheFilterOwnSamples) {
    python("formats '" + dir / "in-" + "' 44100 2 20000");
    for (const char* input : {"in-s16.wav", "in-s24.wav"}) {
        for (const char* channel : {"first", "mix", "all"}) {
            // The default filter: its 16-bit samples divided by 32768.
            const std::vector<int16_t> sixteen =
                int16sOf(sndfileSamples(convert(dir / input, 16000, {"--channel", channel}), false));
            const std::vector<float> scaled =
                floatsOf(sndfileSamples(convert(dir / input, 16000, {"--channel", channel, "--format", "f32"}), true));
            ASSERT_EQ(scaled.size(), sixteen.size());
            for (std::size_t i = 0; i < scaled.size(); ++i) {
                ASSERT_EQ(scaled[i], static_cast<float>(sixteen[i]) / 32768.0f) << input << " " << channel << " " << i;
            }
            // The high filter: its 16-bit samples are its float ones rounded to
            // nearest, halves away from zero, and clamped.
            const std::vector<float> sums = floatsOf(sndfileSamples(
                convert(dir / input, 16000, {"--channel", channel, "--quality", "high", "--format", "f32"}), true));
            const std::vector<int16_t> rounded = int16sOf(
                sndfileSamples(convert(dir / input, 16000, {"--channel", channel, "--quality", "high"}), false));
            ASSERT_EQ(rounded.size(), sums.size());
            std::size_t fractions = 0;
            for (std::size_t i = 0; i < sums.size(); ++i) {
                const long double exact = static_cast<long double>(sums[i]) * 32768.0L;
                fractions += exact != std::floor(exact) ? 1 : 0;
                const long double expected = std::round(std::fmax(-32768.0L, std::fmin(32767.0L, exact)));
                ASSERT_EQ(rounded[i], static_cast<int16_t>(expected)) << input << " " << channel << " " << i;
            }
            EXPECT_GT(fractions, sums.size() / 2) << "the float samples are not 16-bit ones";
        }
    }
}

TEST_F(ChannelsAndFormats, TheHighFilterTakesEverySampleFormatAsExactFloats) {
    python("formats '" + dir / "in-" + "' 32000 2 6000");
    for (const char* format : {"u8", "s16", "s24", "s32", "f64"}) {
        for (const char* channel : {"all", "mix", "second"}) {
            const std::vector<std::string> options = {"--quality", "high", "--format", "f32", "--channel", channel};
            const Bytes got = sndfileSamples(convert(dir / ("in-" + std::string(format) + ".wav"), 44100, options), true);
            const Bytes expected =
                sndfileSamples(convert(dir / ("in-" + std::string(format) + ".exact.wav"), 44100, options), true);
            EXPECT_EQ(got, expected) << format << " " << channel;
        }
    }
    // The 24-bit samples' low bits count: they are not made 16-bit first.
    const std::vector<std::string> high = {"--quality", "high", "--format", "f32"};
    EXPECT_NE(sndfileSamples(convert(dir / "in-s24.wav", 44100, high), true),
              sndfileSamples(convert(dir / "in-s16.wav", 44100, high), true));
    // Taken as floats, as the note says.
    convert(dir / "in-s24.wav", 44100, {"--quality", "high", "--verbose"});
    EXPECT_NE(last.err.find("24-bit PCM taken as floats"), std::string::npos) << last.err;
}

TEST_F(ChannelsAndFormats, OutputHeadersAreWhatOtherReadersTake) {
    if (!have("sndfile-info") || !have("sox")) GTEST_SKIP() << "needs sndfile-info and sox";
    python("noise '" + dir / "six.wav" + "' 48000 6 4800");
    python("noise '" + dir / "stereo.wav" + "' 48000 2 4800");
    // Mono and stereo floats: IEEE float with a fact chunk of the frame count, 58 header bytes.
    for (const auto& [channel, channels] : {std::pair<const char*, int>{"first", 1}, {"all", 2}}) {
        const std::string output = convert(dir / "stereo.wav", 16000, {"--channel", channel, "--format", "f32"});
        EXPECT_EQ(readBytes(output).size(), 58u + 1600u * 4u * static_cast<unsigned>(channels)) << channel;
        const std::string info = shellOutput("sndfile-info '" + output + "'");
        EXPECT_NE(info.find("WAVE_FORMAT_IEEE_FLOAT"), std::string::npos) << info;
        EXPECT_NE(info.find("fact : 4"), std::string::npos) << info;
        EXPECT_NE(info.find("frames  : 1600"), std::string::npos) << info;
        EXPECT_NE(info.find("Channels    : " + std::to_string(channels)), std::string::npos) << info;
        EXPECT_NE(shellOutput("soxi '" + output + "' 2>/dev/null").find("32-bit Floating Point PCM"), std::string::npos);
    }
    // Two 16-bit channels: the canonical header, as Python's wave module reads it.
    const std::string pair = convert(dir / "stereo.wav", 16000, {"--channel", "all"});
    EXPECT_EQ(readBytes(pair).size(), 44u + 1600u * 4u);
    waveSamples(pair, "2 16000 1600");
    // More channels: extensible, with the standard positions of six (5.1) or those the input names.
    const std::string six = convert(dir / "six.wav", 44100, {"--channel", "all"});
    std::string info = shellOutput("sndfile-info '" + six + "'");
    EXPECT_NE(info.find("WAVE_FORMAT_EXTENSIBLE"), std::string::npos) << info;
    EXPECT_NE(info.find("Channel Mask  : 0x3F"), std::string::npos) << info;
    EXPECT_NE(info.find("format : pcm"), std::string::npos) << info;
    EXPECT_NE(info.find("Frames      : 4410"), std::string::npos) << info;
    // sox reads the extensible 16-bit file's samples as libsndfile does.
    const std::string soxRaw = dir / "six.s16";
    ASSERT_EQ(std::system(("sox '" + six + "' -t s16 '" + soxRaw + "'").c_str()), 0);
    EXPECT_EQ(readBytes(soxRaw), sndfileSamples(six, false));

    const Bytes sixData = sndfileSamples(dir / "six.wav", false);
    writeBytes(dir / "sides.wav", chunkedWav({{"fmt ", fmtBody(1, 6, 48000, 16, 40, 0x60F)}, {"data", sixData}}));
    const std::string sides = convert(dir / "sides.wav", 44100, {"--channel", "all", "--quality", "high", "--format", "f32"});
    info = shellOutput("sndfile-info '" + sides + "'");
    EXPECT_NE(info.find("Channel Mask  : 0x60F"), std::string::npos) << info;
    EXPECT_NE(info.find("format : IEEE float"), std::string::npos) << info;
    EXPECT_NE(info.find("frames  : 4410"), std::string::npos) << info;
    const std::string soxFloats = dir / "sides.f32";
    ASSERT_EQ(std::system(("sox '" + sides + "' -t f32 '" + soxFloats + "' 2>/dev/null").c_str()), 0);
    // sox carries samples as 32-bit integers of full scale 1: its floats agree
    // to within 2^-24 or so, and it clips what passes full scale.
    const std::vector<float> bySox = floatsOf(readBytes(soxFloats));
    const std::vector<float> bySndfile = floatsOf(sndfileSamples(sides, true));
    ASSERT_EQ(bySox.size(), bySndfile.size());
    for (std::size_t i = 0; i < bySox.size(); ++i) {
        ASSERT_NEAR(bySox[i], std::fmax(-1.0f, std::fmin(1.0f, bySndfile[i])), 1e-7f) << i;
    }
}

TEST_F(ChannelsAndFormats, EqualRatesPassTheHighFilterUnchangedAndFilterTheDefaultOne) {
    python("floats '" + dir / "floats.wav" + "' 22050 2 3000");
    const Bytes input = sndfileSamples(dir / "floats.wav", true);
    const std::vector<float> in = floatsOf(input);
    const std::string copy =
        convert(dir / "floats.wav", 22050, {"--quality", "high", "--format", "f32", "--channel", "all"});
    EXPECT_EQ(last.err, "[WARNNING!]: Do filecopy while source SampleRate equals to target SampleRate.\n");
    std::vector<float> out = floatsOf(sndfileSamples(copy, true));
    ASSERT_EQ(out.size(), in.size());
    // Beyond +-65536 a sample is taken as +-65536, NaN as 0; the rest pass as they are.
    EXPECT_EQ(out[2], 65536.0f);
    EXPECT_EQ(out[4], -65536.0f);
    EXPECT_EQ(out[6], 0.0f);
    out[2] = in[2], out[4] = in[4], out[6] = in[6];
    EXPECT_EQ(std::memcmp(out.data(), in.data(), 4 * in.size()), 0);
    // The default filter filters the channels of a file of several at equal
    // rates, as ResampleWav does; each channel as it filters that channel.
    python("noise '" + dir / "stereo.wav" + "' 22050 2 3000");
    const Bytes both = waveSamples(convert(dir / "stereo.wav", 22050, {"--channel", "all"}), "2 22050 3000");
    EXPECT_EQ(last.err, "");
    for (int channel = 0; channel < 2; ++channel) {
        const std::string expected = dir / ("lib" + std::to_string(channel) + ".wav");
        ASSERT_EQ(ResampleWav(wide(dir / "stereo.wav").c_str(), wide(expected).c_str(), 22050, channel), 1);
        EXPECT_EQ(column(both, 2, channel, 2), waveSamples(expected, "1 22050 3000")) << channel;
    }
    EXPECT_NE(column(both, 2, 0, 2), column(waveSamples(dir / "stereo.wav", "2 22050 3000"), 2, 0, 2));
}

TEST_F(ChannelsAndFormats, BatchesPipesAndStreamsWriteTheSameBytes) {
    python("formats '" + dir / "a-" + "' 44100 3 30000");
    python("noise '" + dir / "b.wav" + "' 44100 2 30000");
    const std::vector<std::string> options = {"--quality", "high", "--channel", "all", "--format", "f32"};
    const Bytes a = readBytes(convert(dir / "a-s24.wav", 48000, options));
    const Bytes b = readBytes(convert(dir / "b.wav", 48000, options));
    std::vector<std::string> batch = {"resample", "--rate", "48000", "-o", dir / "batch", "-j", "2"};
    batch.insert(batch.end(), options.begin(), options.end());
    batch.insert(batch.end(), {dir / "a-s24.wav", dir / "b.wav"});
    ASSERT_EQ(runTool(batch).status, 0);
    EXPECT_EQ(readBytes(dir / "batch/a-s24.wav"), a);
    EXPECT_EQ(readBytes(dir / "batch/b.wav"), b);
    // From a pipe into a pipe: the header waits for the end, then holds the sizes.
    const std::string command = "cat '" + dir / "a-s24.wav" + "' | " + PLINTH_TOOL +
                                " resample - /dev/stdout --rate 48000 --quality high --channel all --format f32 | cat > '" +
                                dir / "piped.wav" + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(readBytes(dir / "piped.wav"), a);
}

TEST_F(ChannelsAndFormats, UsageAndLimits) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"resample", "a.wav", "b.wav", "--rate", "8000", "--quality", "best"},
          {"resample", "a.wav", "b.wav", "--rate", "8000", "--format", "s24"},
          {"resample", "a.wav", "b.wav", "--rate", "8000", "--channel", "every"}}) {
        const RunResult run = runTool(args);
        EXPECT_EQ(run.status, 2) << args[5];
        EXPECT_NE(run.err.find("invalid"), std::string::npos) << run.err;
    }
    // 40000 channels of 8-bit samples fit a WAV frame, but not as 16-bit
    // ones: every channel kept is refused before anything is written; one of
    // them is fine.
    Bytes many;
    for (int i = 0; i < 40000 * 2; ++i) many.push_back(static_cast<unsigned char>(i * 7));
    writeBytes(dir / "many.wav", chunkedWav({{"fmt ", fmtBody(1, 40000, 8000, 8, 16)}, {"data", many}}));
    const RunResult refused =
        runTool({"resample", dir / "many.wav", dir / "all.wav", "--rate", "16000", "--channel", "all"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("has 40000 channels, too many channels for one WAV frame"), std::string::npos)
        << refused.err;
    EXPECT_FALSE(exists(dir / "all.wav"));
    convert(dir / "many.wav", 16000, {"--channel", "39999", "--quality", "high"});
}

TEST_F(ChannelsAndFormats, ManyChannelsKeptTakeABoundedMemory) {
    // A few hundred frames of 8192 channels: each filter keeps every channel
    // within 1 GB of address space (a table or a full-size buffer per channel
    // would take gigabytes), and each channel is still that channel converted alone.
    constexpr int kChannels = 8192;
    constexpr int kFrames = 300;
    python("wide '" + dir / "wide.wav" + "' 44100 " + std::to_string(kChannels) + " " + std::to_string(kFrames));
    // ceil(300 x 96000 / 44100) frames.
    const std::string shape = std::to_string(kChannels) + " 96000 654";
    for (const char* quality : {"standard", "high"}) {
        const std::string all = dir / (std::string("all-") + quality + ".wav");
        ASSERT_EQ(runToolWithin(rlim_t{1} << 30,
                                {"resample", dir / "wide.wav", all, "--rate", "96000", "--channel", "all", "--quality",
                                 quality},
                                dir / "err.txt"),
                  0)
            << quality << ": " << readText(dir / "err.txt");
        const Bytes kept = chunkSamples(all, shape);
        for (const int channel : {1, 2, 4097, kChannels}) {
            const std::string alone =
                convert(dir / "wide.wav", 96000, {"--channel", std::to_string(channel), "--quality", quality});
            EXPECT_EQ(column(kept, kChannels, channel - 1, 2), waveSamples(alone, "1 96000 654"))
                << quality << " channel " << channel;
        }
    }
}

}  // namespace
