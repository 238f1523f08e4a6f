// WAV files as people have them, through `plinth resample`: the same samples
// in other layouts and formats must give exactly what ResampleWav gives for
// the canonical file. Inputs and expected values come from independent
// writers: Python's wave module and sox, and chunk layouts built by hand.

#include <sys/stat.h>

#include <cstdlib>

#include "plinth/resample_wav.h"
#include "tests/tools/tool_test_support.h"

using namespace tooltest;

namespace {

// The lines `info` prints for one file, each as it stands.
bool hasLine(const std::string& text, const std::string& line) { return text.find("\n" + line + "\n") != std::string::npos; }

// Writes inputs and expected outputs with Python's own arithmetic.
const char kPythonWriter[] = R"PY(
import math, random, struct, sys, wave
from fractions import Fraction

def read16(path):
    with wave.open(path, 'rb') as r:
        raw = r.readframes(r.getnframes())
        n = r.getnchannels()
        rate = r.getframerate()
    values = [int.from_bytes(raw[i:i + 2], 'little', signed=True) for i in range(0, len(raw), 2)]
    return rate, n, [values[i:i + n] for i in range(0, len(values), n)]

def nearest(q):  # a Fraction to the nearest integer, halves away from zero
    whole, rest = divmod(abs(q.numerator), q.denominator)
    if 2 * rest >= q.denominator: whole += 1
    return whole if q >= 0 else -whole

def clamp(v): return max(-32768, min(32767, v))

def to16(value, scale):
    if isinstance(value, float):
        if math.isnan(value): return 0
        if math.isinf(value): return 32767 if value > 0 else -32768
    return clamp(nearest(Fraction(value) * scale))

command, out = sys.argv[1], sys.argv[2]
if command == 'tone':  # stereo: 440 Hz on the left, silence on the right
    rate, frames = int(sys.argv[3]), int(sys.argv[4])
    write_pcm(out, rate, 2, 2, [[round(10000 * math.sin(2 * math.pi * 440 * t / rate)), 0] for t in range(frames)])
elif command == 'noise':  # random frames; per channel and mixed as mono files beside
    rate, channels, frames, step = (int(a) for a in sys.argv[3:7])
    rng = random.Random(channels)
    data = [[rng.randint(-32768, 32767) // step * step for c in range(channels)] for t in range(frames)]
    write_pcm(out + '.wav', rate, 2, channels, data)
    for c in range(channels):
        write_pcm(out + '.ch%d.wav' % (c + 1), rate, 2, 1, [[f[c]] for f in data])
    write_pcm(out + '.mix.wav', rate, 2, 1, [[sum(f) // channels] for f in data])
elif command == 'widen':  # a 16-bit file's samples, exactly, in 1, 3 or 4 bytes
    width = int(sys.argv[4])
    rate, n, frames = read16(sys.argv[3])
    shift = {1: 8, 3: -8, 4: -16}[width]
    write_pcm(out, rate, width, n, [[v >> shift if shift > 0 else v << -shift for v in f] for f in frames])
elif command == 'between':  # values between 16-bit steps, and what they must become
    rate = int(sys.argv[3])
    rng = random.Random(7)
    top24, top32 = 2 ** 23, 2 ** 31
    v24 = [0, 127, 128, -128, -129, 383, 384, -384, 640, top24 - 1, -top24, top24 - 128, 128 - top24]
    v24 += [rng.randint(-top24, top24 - 1) for i in range(300)]
    v32 = [32767, 32768, -32768, 98304, -98304, top32 - 1, -top32, top32 - 32768, 32768 - top32]
    v32 += [rng.randint(-top32, top32 - 1) for i in range(300)]
    vf = [0.5 / 32768, -0.5 / 32768, 2.5 / 32768, -2.5 / 32768, 1.0, -1.0, 1.5, -2.0, 32767.5 / 32768,
          float('inf'), float('-inf'), float('nan')]
    vf += [rng.uniform(-1.1, 1.1) for i in range(300)]
    vf32 = [struct.unpack('<f', struct.pack('<f', v))[0] for v in vf]
    write_pcm(out + '24.wav', rate, 3, 1, [[v] for v in v24])
    write_pcm(out + '24.expected.wav', rate, 2, 1, [[to16(v, Fraction(1, 256))] for v in v24])
    write_pcm(out + '32.wav', rate, 4, 1, [[v] for v in v32])
    write_pcm(out + '32.expected.wav', rate, 2, 1, [[to16(v, Fraction(1, 65536))] for v in v32])
    write_float(out + 'f32.wav', rate, 'f', 1, [[v] for v in vf32])
    write_pcm(out + 'f32.expected.wav', rate, 2, 1, [[to16(v, 32768)] for v in vf32])
    write_float(out + 'f64.wav', rate, 'd', 1, [[v] for v in vf])
    write_pcm(out + 'f64.expected.wav', rate, 2, 1, [[to16(v, 32768)] for v in vf])
elif command == 'check':  # an output as the wave module reads it: "channels width rate frames"
    with wave.open(out, 'rb') as r:
        print(r.getnchannels(), r.getsampwidth(), r.getframerate(), r.getnframes(), len(r.readframes(10 ** 9)) // 2)
)PY";

class WavFiles : public ::testing::Test {
protected:
    void SetUp() override {
        if (!have("/usr/bin/python3")) GTEST_SKIP() << "needs /usr/bin/python3";
        writeBytes(dir / "writer.py", pythonScript(kPythonWriter));
    }

    void python(const std::string& arguments) {
        ASSERT_EQ(std::system(("/usr/bin/python3 '" + dir / "writer.py" + "' " + arguments).c_str()), 0) << arguments;
    }

    void sox(const std::string& arguments) {
        ASSERT_EQ(std::system(("sox -D " + arguments).c_str()), 0) << arguments;
    }

    // ResampleWav's output for a file.
    Bytes library(const std::string& input, int rate, int channelMode = 0) {
        const std::string output = dir / ("lib-" + std::to_string(++outputs) + ".wav");
        EXPECT_EQ(ResampleWav(wide(input).c_str(), wide(output).c_str(), rate, channelMode), 1) << input;
        return readBytes(output);
    }

    // The tool's output for a file, and what it said.
    Bytes tool(const std::string& input, int rate, const std::string& channel, RunResult& run,
               const std::vector<std::string>& extra = {}) {
        const std::string output = dir / ("tool-" + std::to_string(++outputs) + ".wav");
        std::vector<std::string> args = {"resample", input, output, "--rate", std::to_string(rate), "--channel", channel};
        args.insert(args.end(), extra.begin(), extra.end());
        run = runTool(args);
        EXPECT_EQ(run.status, 0) << input << "\n" << run.err;
        return readBytes(output);
    }

    Bytes tool(const std::string& input, int rate, const std::string& channel = "first") {
        RunResult run;
        const Bytes output = tool(input, rate, channel, run);
        EXPECT_EQ(run.err, "") << input;
        return output;
    }

    TempDir dir;
    int outputs = 0;
};

// The samples of a canonical file, as the data chunk's body.
Bytes dataOf(const Bytes& canonical) { return Bytes(canonical.begin() + 44, canonical.end()); }

TEST_F(WavFiles, EveryLayoutOfTheSameSamplesGivesTheCanonicalOutput) {
    python("tone '" + dir / "canonical.wav" + "' 44100 8820");
    const Bytes canonical = readBytes(dir / "canonical.wav");
    ASSERT_EQ(canonical.size(), 44u + 8820u * 4u);
    const Bytes data = dataOf(canonical);
    const Bytes fmt = fmtBody(1, 2, 44100, 16);
    const Chunk list{"LIST", Bytes(26, 'i')};
    Bytes ds64;
    for (uint32_t word : {0u, 0u, static_cast<uint32_t>(data.size()), 0u, 8820u, 0u, 0u}) appendLe(ds64, word, 4);
    const std::pair<const char*, Bytes> layouts[] = {
        {"fmt18", chunkedWav({{"fmt ", fmtBody(1, 2, 44100, 16, 18)}, {"data", data}})},
        {"list-before", chunkedWav({{"fmt ", fmt}, list, {"data", data}})},
        {"list-after", chunkedWav({{"fmt ", fmt}, {"data", data}, list})},
        {"extensible", chunkedWav({{"fmt ", fmtBody(1, 2, 44100, 16, 40)}, {"data", data}})},
        {"odd-chunks", chunkedWav({{"JUNK", Bytes(5, 0)}, {"fmt ", fmt}, {"bext", Bytes(7, 1)}, {"data", data}})},
        {"rf64", chunkedWav({{"ds64", ds64}, {"fmt ", fmt}, {"data", data, true, 0xFFFFFFFFu}}, "RF64")},
    };
    const std::pair<const char*, int> modes[] = {{"first", 0}, {"second", 1}, {"mix", 2}};
    for (const auto& [mode, channelMode] : modes) {
        const Bytes expected = library(dir / "canonical.wav", 16000, channelMode);
        EXPECT_EQ(tool(dir / "canonical.wav", 16000, mode), expected) << mode;
        for (const auto& [name, file] : layouts) {
            writeBytes(dir / (std::string(name) + ".wav"), file);
            EXPECT_EQ(tool(dir / (std::string(name) + ".wav"), 16000, mode), expected) << name << " " << mode;
        }
    }
    // The left channel holds the tone, so the channels really differ.
    EXPECT_NE(library(dir / "canonical.wav", 16000, 0), library(dir / "canonical.wav", 16000, 1));
}

TEST_F(WavFiles, SixteenBitSamplesWidenedExactlyGiveTheCanonicalOutput) {
    const bool soxFound = have("sox");
    python("noise '" + dir / "in" + "' 44100 2 5000 1");
    python("noise '" + dir / "coarse" + "' 22050 2 5000 256");  // 8-bit holds multiples of 256 only
    python("widen '" + dir / "py24.wav" + "' '" + dir / "in.wav" + "' 3");
    python("widen '" + dir / "py32.wav" + "' '" + dir / "in.wav" + "' 4");
    python("widen '" + dir / "py8.wav" + "' '" + dir / "coarse.wav" + "' 1");
    std::vector<std::pair<std::string, std::string>> widened = {
        {dir / "py24.wav", dir / "in.wav"}, {dir / "py32.wav", dir / "in.wav"}, {dir / "py8.wav", dir / "coarse.wav"}};
    if (soxFound) {
        const std::string in = "'" + dir / "in.wav" + "' ";
        sox(in + "-b 24 '" + dir / "sox24.wav" + "'");
        sox(in + "-e signed-integer -b 32 '" + dir / "sox32.wav" + "'");
        sox(in + "-e floating-point -b 32 '" + dir / "soxf32.wav" + "'");
        sox(in + "-e floating-point -b 64 '" + dir / "soxf64.wav" + "'");
        sox("'" + dir / "coarse.wav" + "' -b 8 '" + dir / "sox8.wav" + "'");
        for (const char* name : {"sox24.wav", "sox32.wav", "soxf32.wav", "soxf64.wav"}) widened.push_back({dir / name, dir / "in.wav"});
        widened.push_back({dir / "sox8.wav", dir / "coarse.wav"});
    }
    for (const auto& [input, canonical] : widened) {
        for (const auto& [mode, channelMode] : {std::pair<const char*, int>{"first", 0}, {"mix", 2}}) {
            EXPECT_EQ(tool(input, 16000, mode), library(canonical, 16000, channelMode)) << input << " " << mode;
        }
    }
    if (!soxFound) GTEST_SKIP() << "sox not installed: only Python's files were tried";
}

TEST_F(WavFiles, ValuesBetweenStepsRoundToNearestAwayFromZeroAndClamp) {
    // At the input's own rate a mono file is copied unfiltered, so the output
    // holds the converted samples themselves.
    python("between '" + dir / "b" + "' 8000");
    for (const char* kind : {"24", "32", "f32", "f64"}) {
        RunResult run;
        const Bytes output = tool(dir / ("b" + std::string(kind) + ".wav"), 8000, "first", run);
        EXPECT_EQ(output, readBytes(dir / ("b" + std::string(kind) + ".expected.wav"))) << kind;
        EXPECT_EQ(run.err, "[WARNNING!]: Do filecopy while source SampleRate equals to target SampleRate.\n") << kind;
    }
}

TEST_F(WavFiles, ChannelNumbersAndTheMixOfManyChannels) {
    for (int channels : {3, 6}) {
        const std::string base = dir / ("multi" + std::to_string(channels));
        python("noise '" + base + "' 48000 " + std::to_string(channels) + " 3000 1");
        for (int n = 1; n <= channels; ++n) {
            EXPECT_EQ(tool(base + ".wav", 16000, std::to_string(n)), library(base + ".ch" + std::to_string(n) + ".wav", 16000))
                << channels << " channels, channel " << n;
        }
        EXPECT_EQ(tool(base + ".wav", 16000, "mix"), library(base + ".mix.wav", 16000)) << channels;
        EXPECT_EQ(tool(base + ".wav", 16000, "second"), library(base + ".ch2.wav", 16000)) << channels;
    }
    // A channel the file lacks fails; a mono file takes its one channel whatever is asked.
    const RunResult missing = runTool({"resample", dir / "multi6.wav", dir / "none.wav", "--rate", "16000", "-c", "7"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("has 6 channels, no channel 7"), std::string::npos) << missing.err;
    EXPECT_FALSE(exists(dir / "none.wav"));
    EXPECT_EQ(tool(dir / "multi3.ch1.wav", 16000, "3"), library(dir / "multi3.ch1.wav", 16000));
    EXPECT_EQ(runTool({"resample", "a.wav", "b.wav", "--rate", "8000", "-c", "0"}).status, 2);
}

TEST_F(WavFiles, DamagedSizesAreClampedWithAWarning) {
    python("noise '" + dir / "in" + "' 22050 1 4000 1");
    const Bytes canonical = readBytes(dir / "in.wav");
    // A recording cut short: the header still claims 10000 frames.
    Bytes cut = canonical;
    setLe32(cut, 40, 20000);
    writeBytes(dir / "cut.wav", cut);
    RunResult run;
    EXPECT_EQ(tool(dir / "cut.wav", 8000, "first", run), library(dir / "in.wav", 8000));
    EXPECT_EQ(run.err, "plinth: " + dir / "cut.wav" +
                           ": warning: the data chunk declares 20000 bytes but only 8000 follow; read to the end of "
                           "the file\n");
}

TEST_F(WavFiles, SaysWhatItDidOnlyWhenAsked) {
    python("noise '" + dir / "in" + "' 44100 2 3000 1");
    python("widen '" + dir / "in24.wav" + "' '" + dir / "in.wav" + "' 3");
    const Bytes wide24 = readBytes(dir / "in24.wav");
    // The 24-bit file with a 26-byte LIST before its samples (at 36 + 8 + 26 + 8 = 78) and one after.
    ASSERT_GT(wide24.size(), 44u);
    const Chunk list{"LIST", Bytes(26, 'i')};
    Bytes listed(wide24.begin(), wide24.begin() + 36);
    appendChunk(listed, list);
    listed.insert(listed.end(), wide24.begin() + 36, wide24.end());
    appendChunk(listed, list);
    writeBytes(dir / "listed.wav", listed);

    const Bytes expected = library(dir / "in.wav", 16000);
    EXPECT_EQ(tool(dir / "listed.wav", 16000), expected);  // no word without --verbose
    RunResult run;
    EXPECT_EQ(tool(dir / "listed.wav", 16000, "first", run, {"--verbose"}), expected);
    EXPECT_EQ(run.err, "plinth: " + dir / "listed.wav" +
                           ": note: read through its chunks: samples at byte 78; 24-bit PCM made 16-bit; skipped LIST; "
                           "34 bytes after the samples not read\n");
    // A canonical file is ResampleWav's business: nothing to say.
    tool(dir / "in.wav", 16000, "first", run, {"-v"});
    EXPECT_EQ(run.err, "");
}

TEST_F(WavFiles, AWrongBlockAlignIsReadByChannelsAndBitsAsOtherReadersDo) {
    python("noise '" + dir / "in" + "' 44100 2 3000 1");
    python("widen '" + dir / "in24.wav" + "' '" + dir / "in.wav" + "' 3");
    const Bytes expected = library(dir / "in.wav", 16000, 2);
    Bytes listed24 = readBytes(dir / "in24.wav");
    ASSERT_GT(listed24.size(), 44u);
    listed24.insert(listed24.begin() + 36, {'L', 'I', 'S', 'T', 2, 0, 0, 0, 'x', 'y'});
    for (const unsigned align : {2u, 0u, 3u}) {
        // Bytes 32 and 33 of the canonical header: a mono frame's size, none, and a 24-bit mono one.
        Bytes canonical = readBytes(dir / "in.wav");
        canonical[32] = static_cast<unsigned char>(align);
        canonical[33] = 0;
        writeBytes(dir / "wrong.wav", canonical);
        Bytes chunked = listed24;
        chunked[32] = static_cast<unsigned char>(align);
        chunked[33] = 0;
        writeBytes(dir / "wrong24.wav", chunked);
        SCOPED_TRACE(align);

        // ResampleWav never looks at the field; the tool gives its bytes.
        EXPECT_EQ(library(dir / "wrong.wav", 16000, 2), expected);
        EXPECT_EQ(tool(dir / "wrong.wav", 16000, "mix"), expected);
        EXPECT_EQ(tool(dir / "wrong24.wav", 16000, "mix"), expected);
        RunResult run;
        EXPECT_EQ(tool(dir / "wrong.wav", 16000, "mix", run, {"--verbose"}), expected);
        EXPECT_EQ(run.err, "plinth: " + dir / "wrong.wav" + ": warning: the fmt chunk's block align says " +
                               std::to_string(align) + " bytes a frame, but 2 channels of 16 bits take 4; read as such\n");

        run = runTool({"info", dir / "wrong24.wav"});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(hasLine(run.out, "  block align:       " + std::to_string(align) +
                                         " (wrong: 2 channels of 24 bits take 6 bytes a frame, read as such)"))
            << run.out;
        EXPECT_TRUE(hasLine(run.out, "  frames:            3000")) << run.out;
        if (have("sox")) {
            // sox reads the same frames from the file.
            EXPECT_EQ(shellOutput("soxi -s '" + dir / "wrong24.wav" + "' 2>/dev/null"), "3000\n");
        }
    }
}

TEST_F(WavFiles, ACanonicalHeaderWithAChunkAfterTheSamplesDoesNotPlayIt) {
    python("noise '" + dir / "in" + "' 16000 1 3000 1");
    Bytes trailed = readBytes(dir / "in.wav");
    appendChunk(trailed, {"LIST", Bytes(30, 'i')});
    writeBytes(dir / "trailed.wav", trailed);
    // ResampleWav plays everything after byte 44; the tool stops at the data chunk's end.
    EXPECT_NE(library(dir / "trailed.wav", 8000), library(dir / "in.wav", 8000));
    EXPECT_EQ(tool(dir / "trailed.wav", 8000), library(dir / "in.wav", 8000));
    // At the same rate the samples are copied under a header of their own.
    RunResult run;
    EXPECT_EQ(tool(dir / "trailed.wav", 16000, "first", run), readBytes(dir / "in.wav"));
    EXPECT_EQ(run.err, "[WARNNING!]: Do filecopy while source SampleRate equals to target SampleRate.\n");
}

TEST_F(WavFiles, NamedPipesOfAnyLayoutStream) {
    python("noise '" + dir / "in" + "' 44100 2 30000 1");
    python("widen '" + dir / "in32.wav" + "' '" + dir / "in.wav" + "' 4");
    const Bytes wide32 = readBytes(dir / "in32.wav");
    ASSERT_GT(wide32.size(), 44u);
    const Chunk big{"LIST", Bytes(70001, 'i')};  // larger than a pipe holds
    Bytes listed(wide32.begin(), wide32.begin() + 12);
    appendChunk(listed, big);
    listed.insert(listed.end(), wide32.begin() + 12, wide32.end());
    appendChunk(listed, big);
    writeBytes(dir / "listed.wav", listed);
    ASSERT_EQ(mkfifo((dir / "in.fifo").c_str(), 0600), 0);

    const Bytes expected = library(dir / "in.wav", 16000, 2);
    const std::string command = "cat '" + dir / "listed.wav" + "' > '" + dir / "in.fifo" + "' & " + PLINTH_TOOL +
                                " resample '" + dir / "in.fifo" + "' ";
    EXPECT_EQ(std::system((command + "'" + dir / "fifo.wav" + "' --rate 16000 --channel mix; wait").c_str()), 0);
    EXPECT_EQ(readBytes(dir / "fifo.wav"), expected);
    EXPECT_EQ(std::system((command + "/dev/stdout --rate 16000 --channel mix | cat > '" + dir / "piped.wav" + "'; wait").c_str()), 0);
    EXPECT_EQ(readBytes(dir / "piped.wav"), expected);
}

TEST_F(WavFiles, OutputsOpenInOtherReaders) {
    python("noise '" + dir / "in" + "' 44100 3 4410 1");
    python("widen '" + dir / "in24.wav" + "' '" + dir / "in.wav" + "' 3");
    const std::string output = dir / "out.wav";
    ASSERT_EQ(runTool({"resample", dir / "in24.wav", output, "--rate", "16000", "--channel", "mix"}).status, 0);
    // 4410 frames at 16000 / 44100: ceil(1600.0) = 1600 samples.
    EXPECT_EQ(shellOutput("/usr/bin/python3 '" + dir / "writer.py" + "' check '" + output + "'"), "1 2 16000 1600 1600\n");
    if (!have("sndfile-info")) GTEST_SKIP() << "sndfile-info (sndfile-programs) not installed";
    const std::string info = shellOutput("sndfile-info '" + output + "'");
    EXPECT_NE(info.find("Sample Rate : 16000"), std::string::npos) << info;
    EXPECT_NE(info.find("Frames      : 1600"), std::string::npos) << info;
    EXPECT_NE(info.find("Channels    : 1"), std::string::npos) << info;
}

}  // namespace

namespace {

TEST_F(WavFiles, InfoDescribesOtherLayoutsAndFormats) {
    python("noise '" + dir / "in" + "' 48000 2 4800 1");
    python("widen '" + dir / "in24.wav" + "' '" + dir / "in.wav" + "' 3");
    // 24-bit extensible, 3 channels, a LIST first: 12 + 8 + 40 + 12 + 8 = 80; 4800 frames of 9 bytes.
    writeBytes(dir / "ext.wav", chunkedWav({{"fmt ", fmtBody(1, 3, 48000, 24, 40)},
                                            {"LIST", Bytes(4, 0)},
                                            {"data", Bytes(4800 * 9, 0)}}));
    Bytes ds64;
    for (uint32_t word : {0u, 0u, 4800u * 8u, 0u, 4800u, 0u, 0u}) appendLe(ds64, word, 4);
    writeBytes(dir / "rf64.wav", chunkedWav({{"ds64", ds64},
                                             {"fmt ", fmtBody(3, 1, 48000, 64, 18)},
                                             {"data", Bytes(4800 * 8, 0), true, 0xFFFFFFFFu}},
                                            "RF64"));
    RunResult run = runTool({"info", dir / "ext.wav"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(hasLine(run.out, "  format:            65534 (extensible, PCM)")) << run.out;
    EXPECT_TRUE(hasLine(run.out, "  channels:          3")) << run.out;
    EXPECT_TRUE(hasLine(run.out, "  sample format:     24-bit PCM")) << run.out;
    EXPECT_TRUE(hasLine(run.out, "  other chunks:      LIST")) << run.out;
    EXPECT_TRUE(hasLine(run.out, "  frames:            4800")) << run.out;
    EXPECT_TRUE(hasLine(run.out, "  duration:          0.100 s")) << run.out;
    EXPECT_TRUE(hasLine(run.out, "  samples at byte 44: no (the data chunk's samples start at byte 80)")) << run.out;

    run = runTool({"info", dir / "rf64.wav"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(hasLine(run.out, "  container:         RF64")) << run.out;
    EXPECT_TRUE(hasLine(run.out, "  format:            3 (IEEE float)")) << run.out;
    EXPECT_TRUE(hasLine(run.out, "  sample format:     64-bit float")) << run.out;
    EXPECT_TRUE(hasLine(run.out, "  data size:         38400 bytes (38400 bytes follow)")) << run.out;
    EXPECT_TRUE(hasLine(run.out, "  frames:            4800")) << run.out;

    // A file cut short: the size it claims, and what is really there.
    Bytes cut = readBytes(dir / "in24.wav");
    cut.resize(44 + 600);
    writeBytes(dir / "cut.wav", cut);
    run = runTool({"info", dir / "cut.wav"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(hasLine(run.out, "  data size:         28800 bytes (600 bytes follow; the size passes the end of the file)"))
        << run.out;
    EXPECT_TRUE(hasLine(run.out, "  frames:            100")) << run.out;
}

}  // namespace
