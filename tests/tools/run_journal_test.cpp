// The journal a run keeps for resuming: what survives a kill, and what counts as the same run.

#include "support/temp_directory.h"
#include "tools/run_journal.h"

#include <gtest/gtest.h>

#include <fstream>

namespace tamsu_cli {
namespace {

TEST(RunJournalTest, ReadsBackSettingsAndEveryWholeCheckpoint)
{
    tamsu_test::TempDirectory directory;
    const auto path = RunJournal::path_in(directory.path());
    // Paths may hold the characters that separate fields and lines.
    const RunSettings settings{{"--config", "toy"}, {"input", "/a\tb\nc\\d (5 bytes)"}};
    {
        RunJournal journal(path, settings);
        journal.record({100, 20});
    }
    RunJournal(path).record({250, 40});
    {
        // A kill inside the last write leaves a torn line.
        std::ofstream(path, std::ios::app) << "checkpoint\t300\t6";
    }
    const auto contents = RunJournal::read(path);
    ASSERT_TRUE(contents);
    EXPECT_EQ(contents->settings, settings);
    ASSERT_EQ(contents->checkpoints.size(), 2u);
    EXPECT_EQ(contents->checkpoints[1].records, 250u);
    EXPECT_EQ(contents->checkpoints[1].summary, 40u);

    // Settings cut short make no journal; neither does no file.
    std::ofstream(path, std::ios::trunc) << "tamsu resume journal 1\nsetting\t--config\ttoy\n";
    EXPECT_FALSE(RunJournal::read(path));
    EXPECT_FALSE(RunJournal::read(directory.file("absent")));

    RunJournal(path, settings).remove();
    EXPECT_FALSE(RunJournal::read(path));
}

TEST(RunJournalTest, TheFirstDifferingSettingIsNamed)
{
    const RunSettings before{{"--config", "a"}, {"input", "x"}};
    struct Case {
        RunSettings now;
        const char* difference;
    };
    for (const auto& c : {
                 Case{before, ""},
                 Case{{{"--config", "b"}, {"input", "x"}}, "--config was 'a', now 'b'"},
                 Case{{{"--config", "a"}}, "input x is missing"},
                 Case{{{"--config", "a"}, {"input", "x"}, {"input", "y"}},
                      "input y was not part of the interrupted run"},
                 Case{{{"--config", "a"}, {"--moves", "true"}}, "input x is now --moves true"},
         }) {
        SCOPED_TRACE(c.difference);
        EXPECT_EQ(first_difference(before, c.now), c.difference);
    }
}

}  // namespace
}  // namespace tamsu_cli
