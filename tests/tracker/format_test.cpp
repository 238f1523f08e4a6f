// The module format and the module builder: every field lands at the offset
// the file layout gives it, cells keep their bits, tags name their channel
// counts, and nothing is ever written outside the image.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/test_modules.h"

using namespace plinth;
using namespace testsupport;

namespace {

std::vector<int> bytesAt(const std::vector<uint8_t>& image, size_t offset, size_t count) {
    return std::vector<int>(image.begin() + static_cast<std::ptrdiff_t>(offset),
                            image.begin() + static_cast<std::ptrdiff_t>(offset + count));
}

TEST(ModuleBuilder, WritesEachFieldAtItsOffsetInTheFile) {
    ModuleBuilder tagged(4, 2, "FLT4");
    tagged.title("song").song(12, 3).order(5, 1);
    tagged.sample(3, 0x1234, 5, 40, 0x0102, 0x0304).sampleName(3, "bass");
    tagged.cell(1, 2, 3, 26, 700, 0xC, 0x30).cell(0, 0, 0, 0, 0, kEffectNoteCut, 3).data({-1, 2});
    const std::vector<uint8_t>& image = tagged.image();
    ASSERT_EQ(image.size(), 1084u + 2 * 1024 + 2);
    EXPECT_EQ(bytesAt(image, 0, 5), (std::vector<int>{'s', 'o', 'n', 'g', 0}));
    // Sample 3's header starts at 20 + 2 x 30: name, length, finetune,
    // volume, loop start and loop length, words big-endian.
    EXPECT_EQ(bytesAt(image, 80, 5), (std::vector<int>{'b', 'a', 's', 's', 0}));
    EXPECT_EQ(bytesAt(image, 102, 8), (std::vector<int>{0x12, 0x34, 5, 40, 0x01, 0x02, 0x03, 0x04}));
    EXPECT_EQ(bytesAt(image, 950, 2), (std::vector<int>{12, 3}));
    EXPECT_EQ(image[952 + 5], 1);
    EXPECT_EQ(std::string(image.begin() + 1080, image.begin() + 1084), "FLT4");
    // Pattern 1, line 2, channel 3: 1084 + 1024 + 2 x 16 + 3 x 4. The sample
    // number's high nibble and the period's top bits share the first byte.
    EXPECT_EQ(bytesAt(image, 2152, 4), (std::vector<int>{0x12, 0xBC, 0xAC, 0x30}));
    EXPECT_EQ(bytesAt(image, 1084, 4), (std::vector<int>{0, 0, 0x0E, 0xC3}));  // ECx as digit E, parameter Cx
    EXPECT_EQ(bytesAt(image, 3132, 2), (std::vector<int>{0xFF, 2}));          // data after the patterns

    ModuleBuilder old = ModuleBuilder::oldLayout(1);
    old.song(9, 2).order(1, 3).sample(15, 0x0A0B).cell(0, 1, 2, 1, 428, 0, 0);
    const std::vector<uint8_t>& oldImage = old.image();
    ASSERT_EQ(oldImage.size(), 600u + 1024);
    EXPECT_EQ(bytesAt(oldImage, 470, 4), (std::vector<int>{9, 2, 0, 3}));
    EXPECT_EQ(bytesAt(oldImage, 20 + 14 * 30 + 22, 2), (std::vector<int>{0x0A, 0x0B}));
    EXPECT_EQ(bytesAt(oldImage, 600 + 16 + 8, 4), (std::vector<int>{0x01, 0xAC, 0x10, 0}));
}

TEST(ModuleFormat, CellsKeepTheirBits) {
    const uint8_t bytes[4] = {0x12, 0xBC, 0xAC, 0x30};
    const ModCell cell = decodeCell(bytes);
    EXPECT_EQ(cell.sample, 0x1A);
    EXPECT_EQ(cell.period, 0x2BC);
    EXPECT_EQ(cell.effect, 0xC);
    EXPECT_EQ(cell.param, 0x30);
    for (int sample : {0, 1, 15, 16, 31, 32, 255}) {
        for (int period : {0, 1, 113, 856, 0xFFF}) {
            for (int effect : {0, 9, 14, 15}) {
                for (int param : {0, 0x5A, 255}) {
                    uint8_t written[4];
                    encodeCell({sample, period, effect, param}, written);
                    const ModCell read = decodeCell(written);
                    ASSERT_EQ(read.sample, sample);
                    ASSERT_EQ(read.period, period);
                    ASSERT_EQ(read.effect, effect);
                    ASSERT_EQ(read.param, param);
                }
            }
        }
    }
}

TEST(ModuleFormat, TagsNameChannelCounts) {
    EXPECT_EQ(numberedTag(1), "1CHN");
    EXPECT_EQ(numberedTag(4), "4CHN");
    EXPECT_EQ(numberedTag(9), "9CHN");
    EXPECT_EQ(numberedTag(10), "10CH");
    EXPECT_EQ(numberedTag(32), "32CH");
    EXPECT_THROW(numberedTag(0), std::invalid_argument);
    EXPECT_THROW(numberedTag(33), std::invalid_argument);
    const auto tagOf = [](const ModuleBuilder& module) {
        return std::string(module.image().begin() + 1080, module.image().begin() + 1084);
    };
    EXPECT_EQ(tagOf(ModuleBuilder(4)), "M.K.");  // the first tag for the count
    EXPECT_EQ(tagOf(ModuleBuilder(8)), "OKTA");
    EXPECT_EQ(tagOf(ModuleBuilder(6)), "6CHN");
    for (const char* unknown : {"m.k.", "33CH", "0CHN", "M.K "}) {
        EXPECT_EQ(tagChannels(reinterpret_cast<const uint8_t*>(unknown)), 0) << unknown;
    }
}

TEST(ModuleBuilder, RefusesWhatTheLayoutHasNoRoomFor) {
    ModuleBuilder module(4, 1);
    EXPECT_THROW(module.sample(0, 1), std::out_of_range);
    EXPECT_THROW(module.sample(32, 1), std::out_of_range);
    EXPECT_THROW(ModuleBuilder::oldLayout().sample(16, 1), std::out_of_range);
    EXPECT_THROW(module.cell(0, 64, 0, 0, 0, 0, 0), std::out_of_range);
    EXPECT_THROW(module.cell(0, 0, 4, 0, 0, 0, 0), std::out_of_range);
    EXPECT_THROW(module.cell(0, 0, -1, 0, 0, 0, 0), std::out_of_range);
    EXPECT_THROW(module.cell(1, 0, 0, 0, 0, 0, 0), std::out_of_range);  // a second pattern it does not have
    EXPECT_THROW(module.order(128, 0), std::out_of_range);
    EXPECT_THROW(module.at(module.image().size()), std::out_of_range);
    EXPECT_THROW(ModuleBuilder(0), std::out_of_range);
    EXPECT_THROW(ModuleBuilder(33), std::out_of_range);
    EXPECT_THROW(ModuleBuilder(4, 1, "M.K"), std::invalid_argument);
    EXPECT_EQ(module.image().size(), 1084u + 1024);  // and nothing was written
    EXPECT_EQ(module.image(), ModuleBuilder(4, 1).image());
}

TEST(VisitedOrders, OneBitPerOrderIndex) {
    ModPlayer player{};
    for (int order : {0, 9, 127}) markOrderVisited(player, order);
    EXPECT_EQ(player.visitedOrders[0], 0x01);
    EXPECT_EQ(player.visitedOrders[1], 0x02);
    EXPECT_EQ(player.visitedOrders[15], 0x80);
    for (int order = 0; order < 128; ++order) {
        EXPECT_EQ(orderVisited(player, order), order == 0 || order == 9 || order == 127) << order;
    }
    forgetVisitedOrders(player);
    for (uint8_t bits : player.visitedOrders) EXPECT_EQ(bits, 0);
}

TEST(ModuleFormat, TicksAtTheStartAndAtATempo) {
    EXPECT_EQ(startingSamplesPerTick(8000), 160.0f);
    EXPECT_EQ(startingSamplesPerTick(44100), 882.0f);
    EXPECT_EQ(tempoSamplesPerTick(44100, 125), 882.0f);  // tempo 125 is the starting 50 ticks a second
    EXPECT_EQ(tempoSamplesPerTick(8000, 32), 625.0f);
}

}  // namespace
