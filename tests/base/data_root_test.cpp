#include "base/data_root.h"

#include <gtest/gtest.h>

#include "support/temp_root.h"

namespace velmar {
namespace {

TEST(DataRootTest, FinalBinComponentIsRemoved) {
    const std::vector<std::pair<QString, QString>> cases = {{"/opt/Binaries/bin", "/opt/Binaries/"},
                                                            {"/x/BIN", "/x/"},
                                                            {"/x/Bin", "/x/"},
                                                            {"/x/bin/", "/x/"},
                                                            {"/x/binaries", "/x/binaries/"},
                                                            {"/x/abin", "/x/abin/"},
                                                            {"/opt/bin/x", "/opt/bin/x/"},
                                                            {"/bin", "/"},
                                                            {"/", "/"},
                                                            {"/x/y/", "/x/y/"}};
    for (const auto& [dir, root] : cases)
        EXPECT_EQ(dataRootFromWorkingDir(dir), root) << dir.toStdString();
}

TEST(DataRootTest, RootAlwaysEndsWithSlash) {
    EXPECT_EQ(DataRoot("/srv/velmar").root(), "/srv/velmar/");
    EXPECT_EQ(DataRoot("/srv/velmar/").root(), "/srv/velmar/");
}

TEST(DataRootTest, RelativeNamesResolveCaseInsensitively) {
    test::TempRoot t;
    t.mkdir("Batch");
    t.mkdir("Devices Aliases/Sub");
    t.write("Devices Aliases/Sub/55-1.DEV", "x");
    const DataRoot root(t.root());
    const std::vector<std::pair<QString, QString>> cases = {
        {"batch", "Batch"},
        {"BATCH\\new.run", "Batch/new.run"},
        {"devices aliases\\55-1.dev", "Devices Aliases/55-1.dev"},
        {"devices aliases\\sub\\55-1.dev", "Devices Aliases/Sub/55-1.DEV"},
        {"devices aliases/SUB/missing\\x.dev", "Devices Aliases/Sub/missing/x.dev"},
        {"NoSuch\\Batch", "NoSuch/Batch"},
        {"logs\\status", "logs/status"}};
    for (const auto& [name, expected] : cases)
        EXPECT_EQ(root.path(name), t.root() + expected);
    // Whether the entry exists, told with the path; a single component that is missing as
    // spelled is still looked for in another case.
    const std::vector<std::pair<QString, bool>> found = {{"DEVICES ALIASES\\SUB\\55-1.dev", true},
                                                         {"devices aliases\\55-1.dev", false},
                                                         {"batch", true},
                                                         {"Batch", true},
                                                         {"BATCH\\", true},
                                                         {"audios", false},
                                                         {"audios\\x.mp3", false},
                                                         {"devices aliases\\..\\batch", true}};
    for (const auto& [name, exists] : found) {
        bool told = !exists;
        root.path(name, &told);
        EXPECT_EQ(told, exists) << name.toStdString();
        EXPECT_EQ(root.exists(name), exists) << name.toStdString();
    }
}

TEST(DataRootTest, ExactSpellingWinsOverOtherCase) {
    test::TempRoot t;
    t.mkdir("batch");
    t.mkdir("Batch");
    EXPECT_EQ(DataRoot(t.root()).path("Batch"), t.root() + "Batch");
    EXPECT_EQ(DataRoot(t.root()).path("batch"), t.root() + "batch");
}

TEST(DataRootTest, MakeDirFindsExistingAndCreatesOneLevel) {
    test::TempRoot t;
    t.mkdir("Logs");
    const DataRoot root(t.root());
    EXPECT_TRUE(root.makeDir("logs"));
    EXPECT_FALSE(t.exists("logs"));  // no second spelling
    EXPECT_TRUE(root.makeDir("logs\\status"));
    EXPECT_TRUE(t.exists("Logs/status"));
    EXPECT_FALSE(root.makeDir("a\\b"));  // one level only
    EXPECT_FALSE(t.exists("a"));
}

}  // namespace
}  // namespace velmar
