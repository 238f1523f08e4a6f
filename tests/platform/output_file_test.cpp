// The output file's buffering: many small writes reach the file intact, in
// few system calls, also when the output is moved while it is being written.

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "platform/output_file.h"
#include "tests/support/temp_dir.h"

using namespace plinth;
using namespace testsupport;

namespace {

// The write system calls this process has made so far, from the kernel's
// accounting; -1 where it keeps none.
long long writeCalls() {
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value) {
        if (key == "syscw:") return value;
    }
    return -1;
}

std::vector<uint8_t> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Byte n of the test pattern: a counter mixed so that no two nearby blocks
// agree, and a lost, repeated or shifted block shows.
uint8_t patternByte(std::size_t n) { return static_cast<uint8_t>((n * 2654435761u) >> 13); }

constexpr std::size_t kPieceBytes = 2048;  // what the module renderer hands over at a time
constexpr std::size_t kPieces = 1024;      // 2 MiB in all

void writePieces(OutputFile& output, std::size_t first, std::size_t last) {
    std::vector<uint8_t> piece(kPieceBytes);
    for (std::size_t p = first; p < last; ++p) {
        for (std::size_t k = 0; k < kPieceBytes; ++k) piece[k] = patternByte(p * kPieceBytes + k);
        int systemError = 0;
        ASSERT_TRUE(output.write(piece.data(), piece.size(), systemError)) << systemError;
    }
}

TEST(OutputFile, SmallWritesArriveWholeInFewSystemCalls) {
    TempDir dir;
    const std::string path = dir / "out.bin";
    const long long before = writeCalls();
    {
        OutputFile output;
        int systemError = 0;
        ASSERT_TRUE(output.open(path, systemError));
        writePieces(output, 0, kPieces / 3);
        // Moved with a part still buffered: the buffer goes with the stream.
        OutputFile moved(std::move(output));
        writePieces(moved, kPieces / 3, 2 * kPieces / 3);
        OutputFile assigned;
        ASSERT_TRUE(assigned.open(dir / "other.bin", systemError));
        assigned = std::move(moved);
        writePieces(assigned, 2 * kPieces / 3, kPieces);
        ASSERT_TRUE(assigned.commit(systemError)) << systemError;
    }
    const long long after = writeCalls();

    const std::vector<uint8_t> bytes = fileBytes(path);
    ASSERT_EQ(bytes.size(), kPieces * kPieceBytes);
    for (std::size_t n = 0; n < bytes.size(); ++n) ASSERT_EQ(bytes[n], patternByte(n)) << "byte " << n;
    // The output replaced by the assignment was never committed.
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"out.bin"});

    // A page-sized buffer would take 512 calls for these 2 MiB; 64 KiB or
    // more takes at most 32 and the rest.
    if (before >= 0) {
        EXPECT_LE(after - before, 40) << "write calls for 2 MiB in 2 KiB pieces";
    }
}

}  // namespace
