// Systematic fault injection: for each kind of conversion, the n-th read,
// write, allocation, close, rename and link fails, for every n the conversion
// reaches. Each time the tool must fail cleanly with a reason, leave the old
// output as it was, and leave no file behind; or, where the failure could be
// absorbed, write the exact output.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include "tests/tools/tool_test_support.h"

using namespace tooltest;

namespace {

struct Kind {
    const char* name;
    std::vector<std::string> arguments;  // the input is dir/fault-input, the output dir/out.wav
};

TEST(FaultInjection, EveryFailingOperationFailsTheFileCleanly) {
    TempDir dir;
    const std::string tool = PLINTH_TOOL;
    const Bytes old = {'o', 'l', 'd'};
    const std::vector<Kind> kinds = {
        {"resample", {"resample", "--rate", "16000", "--channel", "mix"}},
        {"copy", {"resample", "--rate", "8000"}},
        {"mod2wav", {"mod2wav"}},
    };
    for (const Kind& kind : kinds) {
        const std::string kindName = kind.name;
        writeBytes(dir / "fault-input", kindName == "mod2wav" ? makeModule()
                                        : kindName == "copy"  ? sawtoothWav(1, 8000, 30000)
                                                              : sawtoothWav(2, 44100, 150000));
        // The fault-free result, to compare finished outputs with.
        std::string command = tool;
        for (const std::string& argument : kind.arguments) command += " " + argument;
        command += " '" + dir / "fault-input" + "' '" + dir / "out.wav" + "' -f";
        ASSERT_EQ(std::system((command + " 2>/dev/null").c_str()), 0) << command;
        const Bytes expected = readBytes(dir / "out.wav");

        for (const char* op : {"read", "write", "alloc", "close", "rename", "link"}) {
            int failures = 0;
            for (int n = 1; n < 100000; ++n) {
                writeBytes(dir / "out.wav", old);
                std::remove((dir / "fired").c_str());
                const std::string environment = std::string("LD_PRELOAD='") + PLINTH_FAULT_LIBRARY +
                                                "' PLINTH_FAULT_ARM=fault-input PLINTH_FAULT_OP=" + op +
                                                " PLINTH_FAULT_AT=" + std::to_string(n) + " PLINTH_FAULT_REPORT='" +
                                                dir / "fired" + "' ";
                const int status = std::system((environment + command + " 2>'" + dir / "err" + "'").c_str());
                const std::string err = readText(dir / "err");
                const std::string where = kindName + ", " + op + " " + std::to_string(n) + ": " + err;
                ASSERT_TRUE(WIFEXITED(status)) << where;
                if (!exists(dir / "fired")) {
                    // Past the last such operation: the conversion runs through.
                    EXPECT_EQ(WEXITSTATUS(status), 0) << where;
                    EXPECT_EQ(readBytes(dir / "out.wav"), expected) << where;
                    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"err", "fault-input", "out.wav"})) << where;
                    break;
                }
                ++failures;
                EXPECT_EQ(dir.entries(), (std::vector<std::string>{"err", "fault-input", "fired", "out.wav"})) << where;
                const Bytes written = readBytes(dir / "out.wav");
                if (WEXITSTATUS(status) == 0 || written == expected) {
                    // A failure the run could absorb (stdio falls back to an
                    // unbuffered stream), or one that came after the output
                    // was complete: the tool's own flush of standard output.
                    EXPECT_EQ(written, expected) << where;
                    if (WEXITSTATUS(status) != 0) {
                        EXPECT_NE(err.find("standard output"), std::string::npos) << where;
                    }
                    continue;
                }
                EXPECT_EQ(WEXITSTATUS(status), 1) << where;
                EXPECT_EQ(written, old) << where;
                EXPECT_NE(err.find("plinth: "), std::string::npos) << where;
            }
            // Every kind of operation is reached at least once: a tool the
            // faults could not reach would otherwise pass untested.
            EXPECT_GT(failures, 0) << kindName << ", " << op;
            RecordProperty(kindName + "-" + op, failures);
            std::printf("%s: %d failing %s operations tried\n", kind.name, failures, op);
        }
    }
}

}  // namespace
