#include "tools/input_paths.h"

#include "support/exception_text.h"
#include "support/temp_directory.h"
#include "tools/input_error.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace tamsu_cli {
namespace {

TEST(InputPathsTest, DirectoriesGiveTheirSignalFilesSortedAndSubdirectoriesOnlyWhenRecursive)
{
    const tamsu_test::TempDirectory directory;
    const auto in = directory.file("in");
    std::filesystem::create_directories(in + "/sub/deeper");
    std::filesystem::create_directories(directory.file("empty/sub"));
    for (const char* name : {"c.tsv", "a.blow5", "b.slow5", "notes.txt", "a.blow5.partial",
                             "sub/b.tsv", "sub/deeper/a.slow5", "../empty/sub/x.txt"}) {
        std::ofstream(in + "/" + name) << "";
    }
    std::filesystem::create_directory(in + "/d.tsv");  // a directory, not a file
    const struct {
        std::vector<std::string> paths;
        bool recursive;
        std::vector<std::string> expected;  // relative to `directory`; empty: an error
    } cases[] = {
            {{"in"}, false, {"in/a.blow5", "in/b.slow5", "in/c.tsv"}},
            {{"in"},
             true,
             {"in/a.blow5", "in/b.slow5", "in/c.tsv", "in/sub/b.tsv", "in/sub/deeper/a.slow5"}},
            // Files stay in the order given, whatever their names.
            {{"-", "in/notes.txt", "in/sub"}, false, {"-", "in/notes.txt", "in/sub/b.tsv"}},
            {{"empty"}, true, {}},
            {{"in/missing.tsv"}, false, {}},
    };
    const auto absolute = [&](std::vector<std::string> paths) {
        for (auto& path : paths) {
            path = path == "-" ? path : directory.file(path);
        }
        return paths;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.paths.back() + (c.recursive ? " recursive" : ""));
        const auto paths = absolute(c.paths);
        if (c.expected.empty()) {
            EXPECT_NE(tamsu_test::exception_text<InputError>(
                              [&] { InputPaths::expand(paths, c.recursive); }),
                      "<no exception>");
        } else {
            EXPECT_EQ(InputPaths::expand(paths, c.recursive), absolute(c.expected));
        }
    }
    const auto empty = directory.file("empty");
    EXPECT_EQ(tamsu_test::exception_text<InputError>([&] { InputPaths::expand({empty}, false); }),
              "the directory " + empty +
                      " holds no .blow5, .slow5 or .tsv files (--recursive also searches its "
                      "subdirectories)");
}

}  // namespace
}  // namespace tamsu_cli
