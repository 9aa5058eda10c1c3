#include "bus/linkel_config.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "log/runtime.h"
#include "support/fake_clock.h"
#include "support/temp_root.h"

namespace velmar {
namespace {

const QString kName = QStringLiteral("linkelnet.cfg");
const QString kConsequence =
    QStringLiteral(", the Linkel link and panel logins are disabled until the file is mended");

class LinkelConfigTest : public ::testing::Test {
  protected:
    LinkelConfigTest() {
        tmp.mkdir("logs");
        rt.log.setSink([this](const QString& l) { logged << l; });
    }
    LinkelNetConfig read() { return readOrCreateLinkelNet(rt.root, rt.log); }

    test::TempRoot tmp;
    test::FakeClock clock;
    Runtime rt{tmp.root(), clock};
    QStringList logged;
};

TEST_F(LinkelConfigTest, AMissingFileIsCreatedWithAPrivateRandomKey) {
    const LinkelNetConfig made = read();
    EXPECT_TRUE(made.keyValid);
    EXPECT_TRUE(logged.isEmpty()) << logged.join('\n').toStdString();
    const auto mode = QFile::permissions(tmp.path(kName));
    EXPECT_TRUE(mode & QFileDevice::ReadOwner);
    EXPECT_FALSE(mode & (QFileDevice::ReadGroup | QFileDevice::ReadOther));  // the key
    QByteArray expected = "192.168.0.254\r\n9876\r\n";                       // parser test string
    for (int i = 1; i <= 8; ++i)
        expected += QByteArray::number(made.H[static_cast<std::size_t>(i)]) + "\r\n";
    EXPECT_EQ(tmp.read(kName), expected);

    const LinkelNetConfig again = read();
    EXPECT_TRUE(again.keyValid);
    EXPECT_EQ(again.H, made.H);
    EXPECT_EQ(tmp.read(kName), expected);  // read, not made anew
}

TEST_F(LinkelConfigTest, AFileIsReadWholeOrNotAtAll) {
    const QByteArray key = "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8\r\n";
    const struct {
        QByteArray file;
        const char* fault;  // the first bad line as logged; nullptr: the file is good
    } cases[] = {
        // parser test strings: begin
        {"127.0.0.1\r\n9876\r\n" + key, nullptr},
        {"10.1.2.3\n1\n1\n2\n3\n4\n5\n6\n7\n8", nullptr},  // LF, no final line break
        {" 127.0.0.2 \r\n65535 \r\n" + key + "extra\r\n", nullptr},
        {"", "line 1: \"\""},
        {"127.0.0.1\r\n9876\r\n1\r\n2\r\n3\r\n4\r\n", "line 7: \"\""},
        {"localhost\r\n9876\r\n" + key, "line 1: \"localhost\""},
        {"10.0.0.300\r\n9876\r\n" + key, "line 1: \"10.0.0.300\""},
        {"127.1\r\n9876\r\n" + key, "line 1: \"127.1\""},
        {"::1\r\n9876\r\n" + key, "line 1: \"::1\""},
        {"127.0.0.1\r\n0\r\n" + key, "line 2: \"0\""},
        {"127.0.0.1\r\n65536\r\n" + key, "line 2: \"65536\""},
        {"127.0.0.1\r\n0x10\r\n" + key, "line 2: \"0x10\""},
        {"127.0.0.1\r\n9876\r\n1\r\n2\r\n3\r\n4\r\n256\r\n6\r\n7\r\n8\r\n", "line 7: \"256\""},
        {"127.0.0.1\r\n9876\r\n1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n-1\r\n", "line 10: \"-1\""},
        {"127.0.0.1\r\n9876\r\n\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8\r\n", "line 3: \"\""},
        {"127.0.0.1\r\n9876\r\n1\r\n2\r\n3\x01\r\n4\r\n5\r\n6\r\n7\r\n8\r\n", "line 5: \"3\\x01\""},
        // parser test strings: end
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        logged.clear();
        tmp.write(kName, c.file);
        const LinkelNetConfig got = read();
        EXPECT_EQ(tmp.read(kName), c.file);  // never rewritten
        if (!c.fault) {
            EXPECT_TRUE(got.keyValid);
            EXPECT_TRUE(got.fault.isEmpty());
            EXPECT_EQ(got.H, (LoginKey{0, 1, 2, 3, 4, 5, 6, 7, 8}));
            EXPECT_TRUE(logged.isEmpty()) << logged.join('\n').toStdString();
            continue;
        }
        EXPECT_FALSE(got.keyValid);
        EXPECT_EQ(got.fault, kName + " -> " + c.fault);
        EXPECT_EQ(got.H, LoginKey{});
        ASSERT_EQ(logged.size(), 1) << logged.join('\n').toStdString();
        EXPECT_TRUE(
            logged[0].trimmed().endsWith(QLatin1String("Error reading configuration file: ") +
                                         kName + " -> " + c.fault + kConsequence))
            << logged[0].toStdString();
    }
    tmp.write(kName, "127.0.0.9\r\n4321\r\n" + key);
    const LinkelNetConfig good = read();
    EXPECT_EQ(good.address, "127.0.0.9");
    EXPECT_EQ(good.port, 4321);
}

TEST_F(LinkelConfigTest, AFileThatCannotBeOpenedIsNotReplaced) {
    // Root reads any file whatever its mode: a directory in the file's place cannot be read.
    ASSERT_TRUE(QDir(tmp.root()).mkdir(kName));
    const LinkelNetConfig got = read();
    EXPECT_FALSE(got.keyValid);
    EXPECT_TRUE(QFileInfo(tmp.path(kName)).isDir());
    ASSERT_EQ(logged.size(), 1) << logged.join('\n').toStdString();
    EXPECT_TRUE(logged[0].contains("Error reading configuration file: linkelnet.cfg -> "));
    EXPECT_TRUE(logged[0].trimmed().endsWith(kConsequence)) << logged[0].toStdString();
}

}  // namespace
}  // namespace velmar
