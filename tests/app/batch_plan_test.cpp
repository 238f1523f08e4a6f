// The plan of a run, as the tool and the cluster both take it: where each
// output goes, and which outputs are refused before anything is written.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/batch_plan.h"
#include "tests/support/temp_dir.h"

namespace {

using testsupport::TempDir;

void touch(const std::string& path) { std::ofstream(path) << "RIFF"; }

std::vector<std::string> refusals(const std::vector<plinth::Job>& jobs) {
    std::vector<std::string> reasons;
    for (const plinth::Job& job : jobs) reasons.push_back(job.refusal);
    return reasons;
}

TEST(BatchPlan, OutputsGoIntoTheFolderNamedAfterTheirInputs) {
    for (const std::string folder : {"out", "out/"}) {
        const std::vector<plinth::Job> jobs = plinth::planBatch({"in/a.mod", "b.flac.wav", "/x/y/"}, folder, true);
        ASSERT_EQ(jobs.size(), 3u);
        EXPECT_EQ(jobs[0].output, "out/a.wav");
        EXPECT_EQ(jobs[1].output, "out/b.flac.wav");
        EXPECT_EQ(jobs[2].output, "out/y.wav");
        EXPECT_EQ(jobs[1].input, "b.flac.wav");
    }
}

TEST(BatchPlan, AnOutputThatIsAnInputByAnyNameIsRefusedEvenWithForce) {
    TempDir dir;
    std::filesystem::create_directories(dir / "in");
    std::filesystem::create_directories(dir / "out");
    touch(dir / "in/a.wav");
    touch(dir / "in/b.wav");
    std::filesystem::create_hard_link(dir / "in/a.wav", dir / "out/b.wav");
    std::filesystem::create_symlink(dir / "in/b.wav", dir / "out/c.wav");
    touch(dir / "in/c.wav");

    const std::vector<plinth::Job> jobs =
        plinth::planBatch({dir / "in/a.wav", dir / "in/b.wav", dir / "in/c.wav"}, dir / "out", true);
    EXPECT_EQ(refusals(jobs),
              (std::vector<std::string>{
                  "",
                  dir / "out/b.wav" + ": would overwrite the input " + dir / "in/a.wav" + " of this run",
                  dir / "out/c.wav" + ": would overwrite the input " + dir / "in/b.wav" + " of this run",
              }));
}

TEST(BatchPlan, ExistingOutputsNeedForceFoldersNeverDoAndTheFirstOwnerKeepsAnOutput) {
    TempDir dir;
    std::filesystem::create_directories(dir / "one");
    std::filesystem::create_directories(dir / "two");
    std::filesystem::create_directories(dir / "out/take.wav");  // a folder where an output would go
    touch(dir / "out/old.wav");
    const std::vector<std::string> inputs = {dir / "take.mod", dir / "old.mod", dir / "one/song.mod",
                                             dir / "two/song.mod"};

    EXPECT_EQ(refusals(plinth::planBatch(inputs, dir / "out", false)),
              (std::vector<std::string>{
                  dir / "out/take.wav" + ": is a folder",
                  dir / "out/old.wav" + ": exists (use --force to replace it)",
                  "",
                  dir / "out/song.wav" + ": already the output of " + dir / "one/song.mod" + " in this run",
              }));
    EXPECT_EQ(refusals(plinth::planBatch(inputs, dir / "out", true)),
              (std::vector<std::string>{
                  dir / "out/take.wav" + ": is a folder",
                  "",
                  "",
                  dir / "out/song.wav" + ": already the output of " + dir / "one/song.mod" + " in this run",
              }));
}

TEST(BatchPlan, DevicesAreWrittenByEveryJobWithoutForce) {
    TempDir dir;
    touch(dir / "a.wav");
    const std::vector<plinth::Job> jobs =
        plinth::planJobs({dir / "a.wav", dir / "a.wav"}, {"/dev/null", "/dev/null"}, false);
    EXPECT_EQ(refusals(jobs), (std::vector<std::string>{"", ""}));
}

}  // namespace
