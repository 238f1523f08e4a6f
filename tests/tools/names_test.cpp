// File names: names in any encoding, and the names of batch outputs.

#include <gtest/gtest.h>

#include "app/batch_plan.h"
#include "tests/tools/tool_test_support.h"

using namespace tooltest;

namespace {

TEST(OutputNames, BatchOutputsTakeTheInputsNameWithWav) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"song.mod", "song.wav"},       {"dir/song.mod", "song.wav"}, {"/a/b.c/take.two.wav", "take.two.wav"},
        {"dir.d/noext", "noext.wav"},   {".hidden", ".hidden.wav"},   {"x.WAV", "x.wav"},
        {"dir/sub/", "sub.wav"},
    };
    for (const auto& [input, output] : cases) EXPECT_EQ(plinth::outputNameFor(input), output) << input;
}

TEST(OutputNames, NamesOfAnyEncodingConvert) {
    TempDir dir;
    const Bytes input = sawtoothWav(1, 16000, 800);
    const std::string utf8Name = dir / "chanson-\xC3\xA9t\xC3\xA9-\xE6\x97\xA5.wav";
    writeBytes(utf8Name, input);
    const RunResult good = runTool({"resample", utf8Name, dir / "\xE2\x82\xAC.wav", "--rate", "8000"});
    EXPECT_EQ(good.status, 0) << good.err;
    writeBytes(dir / "plain.wav", input);
    ASSERT_EQ(runTool({"resample", dir / "plain.wav", dir / "plain8000.wav", "--rate", "8000"}).status, 0);
    EXPECT_EQ(readBytes(dir / "\xE2\x82\xAC.wav"), readBytes(dir / "plain8000.wav"));

    // A name is bytes to the file system: one that is not UTF-8 converts too.
    const std::string latin1Name = dir / "caf\xE9.wav";
    writeBytes(latin1Name, input);
    const RunResult latin1 = runTool({"resample", latin1Name, dir / "caf\xE9-8000.wav", "--rate", "8000"});
    EXPECT_EQ(latin1.status, 0) << latin1.err;
    EXPECT_EQ(readBytes(dir / "caf\xE9-8000.wav"), readBytes(dir / "plain8000.wav"));
}

}  // namespace
