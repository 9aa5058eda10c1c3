#include "base/dir_listing.h"

#include <gtest/gtest.h>

#include <QFile>

#include "base/text_file.h"
#include "support/temp_root.h"

namespace velmar {
namespace {

TEST(DirListingTest, PatternMatching) {
    struct Case {
        const char* name;
        const char* pattern;
        bool match;
    };
    const Case cases[] = {{"a.run", "*.run", true},
                          {"A.RUN", "*.run", true},
                          {"a.run_", "*.run", false},
                          {"a.runs", "*.run", false},
                          {"run", "*.run", false},
                          {".run", "*.run", true},
                          {"noext", "*.*", true},
                          {"a.b", "*.*", true},
                          {"noext", "*.", true},
                          {"a.b", "*.", false},
                          {"a", "?", true},
                          {"ab", "?", false},
                          {"Sensel 3.nam", "Sensel ?.nam", true},
                          {"Sensel 10.nam", "Sensel ?.nam", false},
                          {"x.tmp", "*", true},
                          {"ab", "a*b", true},
                          {"axxb", "a*b", true},
                          {"axxbc", "a*b", false},
                          {"ÓW.txt", "ów.TXT", true}};
    for (const Case& c : cases)
        EXPECT_EQ(matchesPattern(QString::fromUtf8(c.name), QString::fromUtf8(c.pattern)), c.match)
            << c.name << " ~ " << c.pattern;
}

TEST(DirListingTest, SortedFilteredListing) {
    test::TempRoot t;
    for (const char* f : {"b.run", "A.run", "c.RUN", "a.txt", "B.Run2", "x"})
        t.write(f, "1");
    t.write(QString(kTempPrefix) + "1-0.tmp", "partial");
    t.write(QString(kTempPrefix) + "2.run", "partial");
    t.mkdir("d.run");
    t.mkdir("Sub");
    QFile::link(t.path("Sub"), t.path("link"));
    QFile::link(t.path("gone"), t.path("broken.run"));

    EXPECT_EQ(listDir(t.root(), "*.run"), QStringList({"A.run", "b.run", "c.RUN"}));
    EXPECT_EQ(listDir(t.root(), "*.*"),
              QStringList({"A.run", "a.txt", "b.run", "B.Run2", "c.RUN", "x"}));
    EXPECT_EQ(listDir(t.root(), "*.", EntryKind::Files), QStringList({"x"}));
    EXPECT_EQ(listDir(t.root(), "*", EntryKind::Dirs), QStringList({"d.run", "link", "Sub"}));
    EXPECT_EQ(listDir(t.root(), "?", EntryKind::All), QStringList({"x"}));
    EXPECT_EQ(listDir(t.root(), "*.run", EntryKind::All),
              QStringList({"A.run", "b.run", "broken.run", "c.RUN", "d.run"}));
    EXPECT_TRUE(listDir(t.path("missing")).isEmpty());
}

TEST(DirListingTest, CaseOnlyDifferenceHasStableOrder) {
    test::TempRoot t;
    for (const char* f : {"b", "a", "B", "A"})
        t.write(f, "");
    EXPECT_EQ(listDir(t.root()), QStringList({"A", "a", "B", "b"}));
}

}  // namespace
}  // namespace velmar
