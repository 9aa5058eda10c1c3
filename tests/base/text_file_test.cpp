#include "base/text_file.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>

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

TEST(TextFileTest, ReadRegularFileOpensNothingElseAndNothingTooLarge) {
    test::TempRoot t;
    t.write("outside.txt", "secret\r\n");
    t.write("exact.run", QByteArray(16, 'e'));
    t.write("over.run", QByteArray(17, 'o'));
    t.write("empty.run", "");
    t.mkdir("d.run");
    ASSERT_EQ(::symlink(QFile::encodeName(t.path("outside.txt")).constData(),
                        QFile::encodeName(t.path("s.run")).constData()),
              0);
    ASSERT_EQ(::symlink("nowhere", QFile::encodeName(t.path("dangling.run")).constData()), 0);
    // Opening a FIFO without O_NONBLOCK would wait for a writer for ever.
    ASSERT_EQ(::mkfifo(QFile::encodeName(t.path("x.run")).constData(), 0644), 0);
    using R = BoundedRead::Result;
    const struct {
        const char* name;
        R result;
        QByteArray bytes;
        const char* kind;
        std::int64_t size;
    } cases[] = {
        {"exact.run", R::Read, QByteArray(16, 'e'), "regular file", 16},
        {"empty.run", R::Read, "", "regular file", 0},
        {"over.run", R::TooLarge, "", "regular file", 17},
        {"s.run", R::NotRegular, "", "symbolic link", -1},
        {"dangling.run", R::NotRegular, "", "symbolic link", -1},
        {"x.run", R::NotRegular, "", "FIFO", -1},
        {"d.run", R::NotRegular, "", "folder", -1},
        {"none.run", R::Missing, "", nullptr, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const BoundedRead r = readRegularFile(t.path(c.name), 16);
        EXPECT_EQ(r.result, c.result);
        EXPECT_EQ(r.bytes, c.bytes);
        if (c.kind) {
            EXPECT_EQ(fileKindName(r.facts.mode), c.kind);
        }
        if (c.size >= 0) {
            EXPECT_EQ(r.facts.size, c.size);
        }
    }
    EXPECT_EQ(t.read("outside.txt"), "secret\r\n");

    // A file that cannot be opened says which and why.
    if (::geteuid() != 0) {
        t.write("z.run", "x");
        ASSERT_EQ(::chmod(QFile::encodeName(t.path("z.run")).constData(), 0), 0);
        const BoundedRead r = readRegularFile(t.path("z.run"), 16);
        EXPECT_EQ(r.result, R::Failed);
        EXPECT_EQ(r.error, QString::fromLocal8Bit(std::strerror(EACCES)));
    }
}

TEST(TextFileTest, RenameUniqueNeverReplaces) {
    test::TempRoot t;
    t.mkdir("rejected");
    t.write("rejected/big.run", "first");
    t.write("big.run", "second");
    const auto moved = renameUnique(t.path("big.run"), t.path("rejected"), "big", ".run");
    ASSERT_TRUE(moved);
    EXPECT_EQ(*moved, t.path("rejected/big_.run"));
    EXPECT_EQ(t.read("rejected/big.run"), "first");
    EXPECT_EQ(t.read("rejected/big_.run"), "second");
    EXPECT_FALSE(t.exists("big.run"));
}

}  // namespace
}  // namespace velmar
