// File names: UTF-8 arguments decoded for the wide-character entries (checked
// against the libraries' own encoder), and the names of batch outputs.

#include <gtest/gtest.h>

#include "files.h"
#include "tool_test_support.h"
#include "utf8_path.h"
#include "wide_path.h"

using namespace tooltest;

namespace {

TEST(Utf8Path, DecodingIsUndoneExactlyByTheLibrariesEncoder) {
    const std::vector<std::string> names = {
        "plain.wav",
        "caf\xC3\xA9.wav",                        // U+00E9, two bytes
        "\xE6\x97\xA5\xE6\x9C\xAC/\xE2\x82\xAC",  // U+65E5 U+672C / U+20AC, three bytes
        "\xF0\x9F\x8E\xB5 \xF4\x8F\xBF\xBF",      // U+1F3B5 and U+10FFFF, four bytes
        "\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80",  // the smallest and largest of each length
        std::string(5000, 'a'),
    };
    for (const std::string& name : names) {
        std::wstring wide;
        ASSERT_TRUE(plinth::utf8ToWide(name, wide)) << name;
        std::string back;
        ASSERT_TRUE(plinth::widePathToUtf8(wide.c_str(), back));
        EXPECT_EQ(back, name);
    }
    std::wstring wide;
    ASSERT_TRUE(plinth::utf8ToWide("\xF0\x9F\x8E\xB5", wide));
    EXPECT_EQ(wide, std::wstring(1, static_cast<wchar_t>(0x1F3B5)));
}

TEST(Utf8Path, MalformedNamesAreRefused) {
    const std::vector<std::string> malformed = {
        "\x80",              // continuation byte first
        "a\xFF" "b",         // never valid
        "\xC0\xAF",          // overlong '/'
        "\xC1\xBF",          // overlong
        "\xE0\x80\xAF",      // overlong, three bytes
        "\xF0\x80\x80\xAF",  // overlong, four bytes
        "\xED\xA0\x80",      // surrogate U+D800
        "\xED\xBF\xBF",      // surrogate U+DFFF
        "\xF4\x90\x80\x80",  // above U+10FFFF
        "\xF8\x88\x80\x80\x80",
        "\xE2\x82",      // cut short
        "\xE2\x28\xA1",  // continuation missing
    };
    for (const std::string& name : malformed) {
        std::wstring wide = L"junk";
        EXPECT_FALSE(plinth::utf8ToWide(name, wide)) << testing::PrintToString(name);
        EXPECT_TRUE(wide.empty());
    }
}

TEST(OutputNames, BatchOutputsTakeTheInputsNameWithWav) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"song.mod", "song.wav"},       {"dir/song.mod", "song.wav"}, {"/a/b.c/take.two.wav", "take.two.wav"},
        {"dir.d/noext", "noext.wav"},   {".hidden", ".hidden.wav"},   {"x.WAV", "x.wav"},
        {"dir/sub/", "sub.wav"},
    };
    for (const auto& [input, output] : cases) EXPECT_EQ(plinth::outputNameFor(input), output) << input;
}

TEST(OutputNames, NonAsciiNamesConvertAndBrokenOnesFailCleanly) {
    TempDir dir;
    const Bytes input = makeWav(1, 16000, 800);
    const std::string utf8Name = dir / "chanson-\xC3\xA9t\xC3\xA9-\xE6\x97\xA5.wav";
    writeFile(utf8Name, input);
    const RunResult good = runTool({"resample", utf8Name, dir / "\xE2\x82\xAC.wav", "--rate", "8000"});
    EXPECT_EQ(good.status, 0) << good.err;
    writeFile(dir / "plain.wav", input);
    ASSERT_EQ(runTool({"resample", dir / "plain.wav", dir / "plain8000.wav", "--rate", "8000"}).status, 0);
    EXPECT_EQ(readFile(dir / "\xE2\x82\xAC.wav"), readFile(dir / "plain8000.wav"));

    const std::string latin1Name = dir / "caf\xE9.wav";  // Latin-1, not UTF-8
    writeFile(latin1Name, input);
    const RunResult bad = runTool({"resample", latin1Name, dir / "out.wav", "--rate", "8000"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("not valid UTF-8"), std::string::npos) << bad.err;
    EXPECT_FALSE(exists(dir / "out.wav"));
}

}  // namespace
