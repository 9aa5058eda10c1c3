#include "base/text_file.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <QDir>
#include <QFile>

#include "support/temp_root.h"

namespace velmar {
namespace {

QStringList allEntries(const test::TempRoot& t) {
    return QDir(t.root()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                    QDir::Name);
}

TEST(TextFileTest, SplitLines) {
    const std::vector<std::pair<QByteArray, QStringList>> cases = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\n", {"a"}},
        {"a\n", {"a"}},
        {"a\r\nb", {"a", "b"}},
        {"a\nb\r\nc\n", {"a", "b", "c"}},
        {"\r\n", {""}},
        {"a\r\n\r\n", {"a", ""}},
        {"\n\nx", {"", "", "x"}},
        {"a\rb\r\n", {"a\rb"}},
        {"a\r\r\n", {"a\r"}},
        {"\xA3\xF3\x64\x9F\r\n", {QStringLiteral("Łódź")}}};
    for (const auto& [bytes, lines] : cases)
        EXPECT_EQ(splitLines(bytes), lines) << bytes.toStdString();
}

TEST(TextFileTest, JoinLinesExactBytes) {
    EXPECT_EQ(joinLines({}), QByteArray());
    EXPECT_EQ(joinLines({""}), QByteArray("\r\n"));
    EXPECT_EQ(joinLines({"a", "", QStringLiteral("żółw")}),
              QByteArray("a\r\n\r\n\xBF\xF3\xB3w\r\n"));
}

TEST(TextFileTest, ReadLinesOfMissingFileFails) {
    test::TempRoot t;
    QString error;
    EXPECT_FALSE(readLines(t.path("none.cfg")));
    EXPECT_FALSE(readFile(t.path("none.cfg"), &error));
    EXPECT_TRUE(error.contains("none.cfg"));
}

TEST(TextFileTest, WriteAtomicReplacesAndLeavesNoTemporary) {
    test::TempRoot t;
    t.write("a.cfg", "old content that is longer");
    ASSERT_TRUE(writeLinesAtomic(t.path("a.cfg"), {"x", "y"}));
    EXPECT_EQ(t.read("a.cfg"), QByteArray("x\r\ny\r\n"));
    ASSERT_TRUE(writeFileAtomic(t.path("b.cfg"), QByteArray()));
    EXPECT_TRUE(t.exists("b.cfg"));
    EXPECT_EQ(allEntries(t), QStringList({"a.cfg", "b.cfg"}));

    QString error;
    EXPECT_FALSE(writeFileAtomic(t.path("missing/c.cfg"), "z", &error));
    EXPECT_TRUE(error.contains("c.cfg"));
    t.mkdir("dir.cfg");
    EXPECT_FALSE(writeFileAtomic(t.path("dir.cfg"), "z", &error));
    EXPECT_EQ(allEntries(t), QStringList({"a.cfg", "b.cfg", "dir.cfg"}));
}

TEST(TextFileTest, UpdateRewritesOnlyAChangedFile) {
    test::TempRoot t;
    const auto inode = [&t] {
        struct stat st {};
        return ::stat(QFile::encodeName(t.path("a.txt")).constData(), &st) == 0 ? st.st_ino : 0;
    };
    ASSERT_TRUE(updateLinesAtomic(t.path("a.txt"), {"Pump"}));  // missing: written
    EXPECT_EQ(t.read("a.txt"), "Pump\r\n");
    const auto first = inode();
    ASSERT_TRUE(updateLinesAtomic(t.path("a.txt"), {"Pump"}));
    EXPECT_EQ(inode(), first);  // the same bytes: untouched
    for (const QStringList& lines : {QStringList{"Pumq"}, QStringList{"Pump", ""}, QStringList{}}) {
        ASSERT_TRUE(updateLinesAtomic(t.path("a.txt"), lines));
        EXPECT_EQ(t.read("a.txt"), joinLines(lines));
    }
    EXPECT_EQ(allEntries(t), QStringList{"a.txt"});
    EXPECT_FALSE(updateLinesAtomic(t.path("missing/a.txt"), {"x"}));
}

TEST(TextFileTest, AppendCreatesThenAppends) {
    test::TempRoot t;
    ASSERT_TRUE(appendFile(t.path("all.logs"), "a\r\n"));
    ASSERT_TRUE(appendFile(t.path("all.logs"), "b\r\n"));
    EXPECT_EQ(t.read("all.logs"), QByteArray("a\r\nb\r\n"));
    EXPECT_FALSE(appendFile(t.path("no/all.logs"), "a"));
}

TEST(TextFileTest, CopyFile) {
    test::TempRoot t;
    t.write("src.exe", "new");
    t.write("kept.exe", "old");
    EXPECT_FALSE(copyFile(t.path("src.exe"), t.path("kept.exe"), true));
    EXPECT_EQ(t.read("kept.exe"), QByteArray("old"));
    EXPECT_TRUE(copyFile(t.path("src.exe"), t.path("fresh.exe"), true));
    EXPECT_EQ(t.read("fresh.exe"), QByteArray("new"));
    EXPECT_TRUE(copyFile(t.path("src.exe"), t.path("kept.exe"), false));
    EXPECT_EQ(t.read("kept.exe"), QByteArray("new"));
    EXPECT_FALSE(copyFile(t.path("none.exe"), t.path("x.exe"), true));
    EXPECT_FALSE(copyFile(t.path("none.exe"), t.path("x.exe"), false));
    EXPECT_EQ(allEntries(t), QStringList({"fresh.exe", "kept.exe", "src.exe"}));
}

TEST(TextFileTest, CreateUniqueAppendsUnderscoresUntilFree) {
    test::TempRoot t;
    t.mkdir("emails");
    const QString dir = t.path("emails");
    const QStringList expected = {"ev.run", "ev_.run", "ev__.run", "ev___.run"};
    for (int i = 0; i < expected.size(); ++i) {
        const auto taken = createUnique(dir, "ev", ".run", QByteArray::number(i));
        ASSERT_TRUE(taken);
        EXPECT_EQ(*taken, dir + "/" + expected[i]);
        EXPECT_EQ(t.read("emails/" + expected[i]), QByteArray::number(i));
    }
    QString error;
    EXPECT_FALSE(createUnique(dir, "ev", ".run", "x", &error, 4));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(createUnique(t.path("nodir"), "ev", ".run", "x"));
    EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name), expected);
}

}  // namespace
}  // namespace velmar
