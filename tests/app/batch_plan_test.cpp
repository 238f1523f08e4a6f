// The plan of a run, as the tool and the cluster both take it: where each
// output goes, and which outputs are refused before anything is written.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "app/batch_plan.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wav_builder.h"
#include "tracker/module_builder.h"

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

TEST(StemPlan, NamesFollowTheInputsName) {
    EXPECT_EQ(plinth::stemNameFor("in/song.mod", 1), "song-01.wav");
    EXPECT_EQ(plinth::stemNameFor("a.b.mod", 32), "a.b-32.wav");
    EXPECT_EQ(plinth::stemNameFor("/x/tune", 7), "tune-07.wav");
}

TEST(StemPlan, EachModuleGetsOneStemAChannelCountedFromItsHeader) {
    TempDir dir;
    testsupport::writeBytes(dir / "six.mod", plinth::ModuleBuilder(6, 1).image());
    testsupport::writeBytes(dir / "old.mod", plinth::ModuleBuilder::oldLayout().image());
    testsupport::writeBytes(dir / "junk.mod", testsupport::Bytes(2000, 0xFF));
    ASSERT_EQ(mkfifo((dir / "pipe.mod").c_str(), 0600), 0);
    const std::vector<plinth::Job> jobs =
        plinth::planBatch({dir / "six.mod", dir / "old.mod", dir / "junk.mod", dir / "pipe.mod", dir / "gone.mod"},
                          dir / "out", false, dir / "parts");
    ASSERT_EQ(jobs.size(), 5u);
    EXPECT_EQ(jobs[0].stems.size(), 6u);
    EXPECT_EQ(jobs[0].stems.front(), dir / "parts/six-01.wav");
    EXPECT_EQ(jobs[0].stems.back(), dir / "parts/six-06.wav");
    EXPECT_EQ(jobs[1].stems,
              (std::vector<std::string>{dir / "parts/old-01.wav", dir / "parts/old-02.wav", dir / "parts/old-03.wav",
                                        dir / "parts/old-04.wav"}));
    // No module, or none yet: no stems, and the conversion says why it fails.
    EXPECT_TRUE(jobs[2].stems.empty());
    EXPECT_TRUE(jobs[4].stems.empty());
    EXPECT_EQ(refusals(jobs), (std::vector<std::string>{
                                  "", "", "",
                                  dir / "pipe.mod" + ": stems need a module file, not standard input or a pipe",
                                  ""}));
}

TEST(StemPlan, StemsAreRefusedAsOutputsAreAndRefuseTheirWholeJob) {
    TempDir dir;
    std::filesystem::create_directories(dir / "out");
    testsupport::writeBytes(dir / "song.mod", plinth::ModuleBuilder(2, 1).image());
    testsupport::writeBytes(dir / "song-02.mod", plinth::ModuleBuilder(1, 1).image());
    touch(dir / "out/song-01.wav");

    // The stems go beside the outputs: song's stem 2 is the next input's output.
    std::vector<plinth::Job> jobs = plinth::planBatch({dir / "song.mod", dir / "song-02.mod"}, dir / "out", false,
                                                      dir / "out");
    EXPECT_EQ(refusals(jobs), (std::vector<std::string>{dir / "out/song-01.wav" + ": exists (use --force to replace it)",
                                                        ""}));
    jobs = plinth::planBatch({dir / "song.mod", dir / "song-02.mod"}, dir / "out", true, dir / "out");
    EXPECT_EQ(refusals(jobs),
              (std::vector<std::string>{
                  "", dir / "out/song-02.wav" + ": already the output of " + dir / "song.mod" + " in this run"}));

    // A stem that is an input by another name, even with force; a refused
    // job claims none of its outputs.
    std::filesystem::create_hard_link(dir / "song-02.mod", dir / "out/song-02.wav");
    jobs = plinth::planJobs({dir / "song.mod", dir / "song-02.mod"}, {dir / "song.wav", dir / "out/song-01.wav"}, true,
                            dir / "out");
    EXPECT_EQ(refusals(jobs),
              (std::vector<std::string>{dir / "out/song-02.wav" + ": would overwrite the input " + dir / "song-02.mod" +
                                            " of this run",
                                        ""}));
    EXPECT_EQ(jobs[1].stems, std::vector<std::string>{dir / "out/song-02-01.wav"});
}

TEST(BatchPlan, DevicesAreWrittenByEveryJobWithoutForce) {
    TempDir dir;
    touch(dir / "a.wav");
    const std::vector<plinth::Job> jobs =
        plinth::planJobs({dir / "a.wav", dir / "a.wav"}, {"/dev/null", "/dev/null"}, false);
    EXPECT_EQ(refusals(jobs), (std::vector<std::string>{"", ""}));
}

}  // namespace
