// The ResampleWav entry: messages, refusals, and what happens at the output path.
#include <gtest/gtest.h>

#include <array>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <thread>

#include "tests/support/exported_symbols.h"
#include "resampler/resample_entry.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wav_builder.h"

using namespace plinth;
using namespace testsupport;

namespace {

class Entry : public ::testing::Test {
protected:
    TempDir dir;
    std::string in = dir.file("in.wav");
    std::string out = dir.file("out.wav");

    // Runs the entry and returns what it printed on stderr.
    std::string run(const std::string& from, const std::string& to, int targetRate, int channelMode, int expected) {
        ::testing::internal::CaptureStderr();
        const int result = resampleWavWide(wide(from).c_str(), wide(to).c_str(), targetRate, channelMode);
        const std::string messages = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(result, expected) << messages;
        return messages;
    }

    void writeMono(uint32_t rate, std::size_t frames) {
        WavFormat format;
        format.sampleRate = rate;
        std::vector<int16_t> samples(frames);
        for (std::size_t i = 0; i < frames; ++i) samples[i] = static_cast<int16_t>(i * 37 % 2001 - 1000);
        writeBytes(in, wavBytes(format, samples));
    }

    // No temporary file may be left beside the output.
    void expectOnly(const std::vector<std::string>& names) {
        EXPECT_EQ(dir.entries(), names);
    }
};

TEST_F(Entry, ReportsUnreadableInputs) {
    EXPECT_EQ(run(dir.file("missing.wav"), out, 8000, 0, 0), "[ERROR!]: Cannot open '" + dir.file("missing.wav") + "'.\n");
    writeBytes(in, std::vector<unsigned char>(30, 'R'));
    EXPECT_EQ(run(in, out, 8000, 0, 0), "[ERROR!]: Cannot read wave header.\n");
    std::vector<unsigned char> bytes = wavBytes(WavFormat{}, std::vector<int16_t>(10));
    bytes[3] = 'X';
    writeBytes(in, bytes);
    EXPECT_EQ(run(in, out, 8000, 0, 0), "[ERROR!]: invalid wav header. Please check the header tag.\n");
    expectOnly({"in.wav"});
}

// Pipes are read once from start to end and written without seeking: a pipe
// in, a pipe out, or both give exactly the bytes of a file-to-file conversion.
TEST_F(Entry, PipesInAndOutGiveTheFilesBytes) {
    WavFormat format;
    format.channels = 2;
    format.sampleRate = 44100;
    std::vector<int16_t> items(2 * 70000);
    for (std::size_t i = 0; i < items.size(); ++i) items[i] = static_cast<int16_t>((i * 7919) % 30011 - 15000);
    const Bytes input = wavBytes(format, items);
    writeBytes(in, input);
    ASSERT_EQ(run(in, out, 16000, 2, 1), "");
    const Bytes expected = readBytes(out);
    ASSERT_EQ(expected.size(), 44u + 2u * ((70000u * 160u + 440u) / 441u));

    const std::string inPipe = dir.file("in.fifo");
    const std::string outPipe = dir.file("out.fifo");
    ASSERT_EQ(mkfifo(inPipe.c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(outPipe.c_str(), 0600), 0);
    for (const bool pipeIn : {false, true}) {
        for (const bool pipeOut : {false, true}) {
            if (!pipeIn && !pipeOut) continue;
            std::thread writer([&] { if (pipeIn) writeBytes(inPipe, input); });
            Bytes received;
            std::thread reader([&] { if (pipeOut) received = readBytes(outPipe); });
            const std::string to = pipeOut ? outPipe : dir.file("from-pipe.wav");
            EXPECT_EQ(run(pipeIn ? inPipe : in, to, 16000, 2, 1), "");
            writer.join();
            reader.join();
            EXPECT_EQ(pipeOut ? received : readBytes(to), expected) << "pipe in " << pipeIn << ", pipe out " << pipeOut;
        }
    }
}

TEST_F(Entry, ReadsTheHeaderAtFixedOffsetsOnly) {
    // "WAVX" form, fmtSize 18: still taken as a canonical header with data at byte 44.
    std::vector<unsigned char> bytes = wavBytes(WavFormat{}, std::vector<int16_t>(100, 5));
    bytes[11] = 'X';
    bytes[16] = 18;
    writeBytes(in, bytes);
    run(in, out, 16000, 0, 1);
    EXPECT_EQ(readBytes(out).size(), 44u + 400u);
}

TEST_F(Entry, RefusesInvalidRatesBeforeAnyOutputExists) {
    writeMono(8000, 100);
    EXPECT_EQ(run(in, out, 0, 0, 0), "[ERROR!]: Invalid parameters!\n");
    EXPECT_EQ(run(in, out, -16000, 0, 0), "[ERROR!]: Invalid parameters!\n");
    writeMono(0, 100);
    EXPECT_EQ(run(in, out, 16000, 0, 0), "[ERROR!]: Invalid parameters!\n");
    // Reduced terms above 8192 are outside what the filter supports.
    writeMono(8000, 100);
    EXPECT_EQ(run(in, out, 8193, 0, 0), "[ERROR!]: Invalid parameters!\n");
    writeMono(2000000011, 100);  // a prime: refused at once, not after a long search
    EXPECT_EQ(run(in, out, 1999999973, 0, 0), "[ERROR!]: Invalid parameters!\n");
    expectOnly({"in.wav"});
}

// Where the smaller rate is a prime dividing the larger, trial division leaves
// the pair as it is; reduced in full, these are ordinary ratios and convert.
TEST_F(Entry, PairsWithAPrimeRateConvertAtTheirFullyReducedRatio) {
    const struct { uint32_t source; int target; std::size_t frames; } pairs[] = {
        {1009, 10090, 500}, {44100, 7, 44100}, {16382, 8191, 3000}};
    for (const auto& pair : pairs) {
        writeMono(pair.source, pair.frames);
        EXPECT_EQ(run(in, out, pair.target, 0, 1), "") << pair.target << " from " << pair.source;
        const Bytes converted = readBytes(out);
        const uint64_t expected = (pair.frames * static_cast<uint64_t>(pair.target) + pair.source - 1) / pair.source;
        EXPECT_EQ(converted.size(), 44 + 2 * expected) << pair.target << " from " << pair.source;
    }
}

TEST_F(Entry, NullPathsAreInvalidParameters) {
    writeMono(8000, 10);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(resampleWavWide(nullptr, wide(out).c_str(), 16000, 0), 0);
    EXPECT_EQ(resampleWavWide(wide(in).c_str(), nullptr, 16000, 0), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "[ERROR!]: Invalid parameters!\n[ERROR!]: Invalid parameters!\n");
}

TEST_F(Entry, UnsupportedWavesLeaveAnExistingOutputIntact) {
    const std::vector<unsigned char> previous = {'k', 'e', 'e', 'p'};
    const WavFormat unsupported[] = {{1, 1, 8000, 8}, {1, 1, 8000, 24}, {3, 1, 8000, 16}, {1, 3, 8000, 16}};
    for (const WavFormat& format : unsupported) {
        writeBytes(in, wavBytes(format, std::vector<int16_t>(30)));
        writeBytes(out, previous);
        EXPECT_EQ(run(in, out, 16000, 0, 0),
                  "[ERROR!]: Unsupported wave. Please check the wave are (mono|stereo)(16bit)(PCM).\n");
        EXPECT_EQ(readBytes(out), previous);
    }
    expectOnly({"in.wav", "out.wav"});
}

TEST_F(Entry, EqualRatesCopyAMonoFileAndConvertAStereoOne) {
    writeMono(22050, 500);
    std::vector<unsigned char> input = readBytes(in);
    input.push_back(0x7F);  // a stray byte after the data is copied too
    writeBytes(in, input);
    EXPECT_EQ(run(in, out, 22050, 0, 1),
              "[WARNNING!]: Do filecopy while source SampleRate equals to target SampleRate.\n");
    EXPECT_EQ(readBytes(out), input);

    WavFormat stereo;
    stereo.channels = 2;
    stereo.sampleRate = 22050;
    writeBytes(in, wavBytes(stereo, std::vector<int16_t>(1000, 3)));
    EXPECT_EQ(run(in, out, 22050, 0, 1), "");
    const std::vector<unsigned char> converted = readBytes(out);
    EXPECT_EQ(converted.size(), 44u + 1000u);
    EXPECT_EQ(converted[22], 1);
}

TEST_F(Entry, ConvertsAFileOntoItself) {
    writeMono(8000, 300);
    run(in, in, 16000, 0, 1);
    EXPECT_EQ(readBytes(in).size(), 44u + 1200u);
    writeMono(8000, 300);
    const std::vector<unsigned char> original = readBytes(in);
    run(in, in, 8000, 0, 1);
    EXPECT_EQ(readBytes(in), original);
    expectOnly({"in.wav"});
}

TEST_F(Entry, PathsAreUtf8OfAnyLength) {
    writeMono(8000, 50);
    const std::string longName = std::string(220, 'n') + ".wav";
    const std::wstring unicodeName = L"\u00e9t\u00e9-\u266b-\U0001F3B5.wav";
    const std::string unicodeUtf8 = "\xc3\xa9t\xc3\xa9-\xe2\x99\xab-\xf0\x9f\x8e\xb5.wav";
    EXPECT_EQ(resampleWavWide(wide(in).c_str(), wide(dir.file(longName)).c_str(), 16000, 0), 1);
    EXPECT_EQ(resampleWavWide(wide(in).c_str(), (wide(dir.path() + "/") + unicodeName).c_str(), 16000, 0), 1);
    EXPECT_TRUE(fileExists(dir.file(longName)));
    EXPECT_TRUE(fileExists(dir.file(unicodeUtf8)));
    const wchar_t surrogate[] = {L'/', L't', 0xD800, 0};
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(resampleWavWide(wide(in).c_str(), surrogate, 16000, 0), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "[ERROR!]: Invalid parameters!\n");
}

TEST_F(Entry, NewOutputsGetOrdinaryPermissionsAndReplacedOnesKeepTheirs) {
    writeMono(8000, 50);
    const mode_t previousMask = umask(022);
    run(in, out, 16000, 0, 1);
    struct stat info;
    ASSERT_EQ(stat(out.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
    chmod(out.c_str(), 0600);
    run(in, out, 11025, 0, 1);
    ASSERT_EQ(stat(out.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    chmod(out.c_str(), 04755);  // set-id bits do not pass to new contents
    run(in, out, 12000, 0, 1);
    ASSERT_EQ(stat(out.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0755u);
    umask(previousMask);
}

TEST_F(Entry, DevicesAreWrittenDirectly) {
    writeMono(8000, 50);
    run(in, "/dev/null", 16000, 0, 1);
    const std::string messages = run(in, "/dev/full", 16000, 0, 0);
    EXPECT_EQ(messages.rfind("[ERROR!]: Cannot write '/dev/full': ", 0), 0u) << messages;
}

TEST_F(Entry, OutputFolderMustExist) {
    writeMono(8000, 50);
    EXPECT_EQ(run(in, dir.file("no/such/out.wav"), 16000, 0, 0), "[ERROR!]: Cannot open '" + dir.file("no/such/out.wav") + "'.\n");
    EXPECT_EQ(run(in, dir.path(), 16000, 0, 0), "[ERROR!]: Cannot open '" + dir.path() + "'.\n");
}

// A file size limit makes writes fail part-way, as a full disk would.
TEST_F(Entry, FailingWritesLeaveNothingBehind) {
    writeMono(8000, 200000);
    const std::vector<unsigned char> previous = {'o', 'l', 'd'};
    writeBytes(out, previous);
    fflush(stderr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit = {100000, 100000};
        setrlimit(RLIMIT_FSIZE, &limit);
        const int devNull = open("/dev/null", O_WRONLY);
        dup2(devNull, 2);
        _exit(resampleWavWide(wide(in).c_str(), wide(out).c_str(), 16000, 0) == 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the entry reported success for a truncated file";
    EXPECT_EQ(readBytes(out), previous);
    expectOnly({"in.wav", "out.wav"});
}

// At 2^28 frames per second the byte rate is still twice the rate, though
// 16 bits times the rate pass 32 bits. 2 frames at 8192:1 give 16384 samples.
TEST_F(Entry, FarUpsamplingStatesTheWholeByteRate) {
    writeMono(32768, 2);
    EXPECT_EQ(run(in, out, 268435456, 0, 1), "");
    const Bytes bytes = readBytes(out);
    ASSERT_EQ(bytes.size(), 44u + 2u * 16384u);
    EXPECT_EQ(le32At(bytes, 24), 268435456u);
    EXPECT_EQ(le32At(bytes, 28), 536870912u);
    EXPECT_EQ(bytes[32], 2);
    EXPECT_EQ(le32At(bytes, 40), 2u * 16384u);
}

// A sparse input whose output would pass 4 GiB is refused before any output exists.
TEST_F(Entry, RefusesOutputsTooLargeForTheHeader) {
    writeMono(8000, 0);
    ASSERT_EQ(truncate(in.c_str(), 44 + 3000000000LL), 0);
    const std::string messages = run(in, out, 16000, 0, 0);
    EXPECT_EQ(messages, "[ERROR!]: Output '" + out + "' would pass the 4 GiB size limit of a WAV file.\n");
    expectOnly({"in.wav"});
}

TEST(SharedLibrary, ExportsResampleWavAlone) {
    EXPECT_EQ(exportedFunctions(PLINTH_RATECONV_LIBRARY), std::set<std::string>{"ResampleWav"});
}

}  // namespace
