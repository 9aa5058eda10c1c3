// velmar against the simulator: what lands in "emails\" besides event files (a huge file, a
// link out of the data root, a FIFO, an unreadable file) costs no memory, leaks nothing into
// the logs, is logged once and does not stop a good request.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include "e2e_fixture.h"

namespace velmar::test {
namespace {

// A line of /proc/<pid>/status ("VmRSS", "VmHWM") in kB, -1 when not found.
long statusKb(qint64 pid, const char* field) {
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith(QByteArray(field) + ':'))
            return line.mid(qstrlen(field) + 1).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

class IntakeE2e : public E2eTest {
  protected:
    int linesWith(const QString& text) { return output().split('\n').filter(text).size(); }
};

TEST_F(IntakeE2e, OddEntriesCostNothingLeakNothingAndAreLoggedOnce) {
    ASSERT_TRUE(sim.addController({55, 1}, sim::ControllerType::Quartel));
    addDevice(55, 1, "Kitchen");
    for (const char* ext : {".iev", ".lev", ".nev", ".sev", ".cev"}) {
        const QByteArray lines = QByteArray(ext) == ".iev"   ? "O1\r\n"
                                 : QByteArray(ext) == ".sev" ? "1\r\n"
                                                             : "Lights On\r\n";
        tmp.write(QLatin1String("events/Quartel/55-1") + ext, lines);
    }
    tmp.mkdir("emails");
    const QString emails = tmp.path("emails");

    // 100 MB that take no disk: a sparse file.
    {
        const int fd = ::open(QFile::encodeName(emails + "/big.run").constData(),
                              O_WRONLY | O_CREAT | O_EXCL, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, 100 * 1024 * 1024), 0);
        ::close(fd);
    }
    // A link out of the data root to a file whose first line is a request.
    QTemporaryDir outside;
    const QByteArray marker = "outside-marker-5c1e";
    {
        QFile f(outside.filePath("secret.txt"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("Kitchen; " + marker + "\r\n");
    }
    ASSERT_EQ(::symlink(QFile::encodeName(outside.filePath("secret.txt")).constData(),
                        QFile::encodeName(emails + "/s.run").constData()),
              0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(emails + "/x.run").constData(), 0644), 0);
    // Root reads it all the same: then it is a request for a device nobody knows.
    tmp.write("emails/z.run", "Nobody; Nothing\r\n");
    ASSERT_EQ(::chmod(QFile::encodeName(emails + "/z.run").constData(), 0), 0);
    const bool root = ::geteuid() == 0;

    startVelmar({"/cancel"});
    const qint64 pid = velmar.processId();
    const long startRss = statusKb(pid, "VmRSS");
    const long startPeak = statusKb(pid, "VmHWM");
    ASSERT_GT(startRss, 0);

    const struct {
        const char* name;
        QString line;
    } cases[] = {
        {"big.run", "Event file too large: " + emails + "/big.run (104857600 bytes), moved to " +
                        emails + "/rejected/big.run"},
        {"s.run", "Not an event file: " + emails + "/s.run is a symbolic link"},
        {"x.run", "Not an event file: " + emails + "/x.run is a FIFO"},
        {"z.run", root ? "Unknown device in event request: " + emails + "/z.run -> Nobody; Nothing"
                       : "Error reading direct event: " + emails + "/z.run: "},
    };
    // The first query tick comes 7 s after the start ("/cancel" after 2 s, then 5 s).
    for (const auto& c : cases)
        ASSERT_TRUE(waitForLog(c.line, 20000)) << c.name << "\n" << output().toStdString();
    // Some ten ticks more: each entry is still logged once.
    pump(10000);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(linesWith(emails + "/" + c.name), 1) << output().toStdString();
        EXPECT_EQ(linesWith(c.line), 1);
    }
    const long endRss = statusKb(pid, "VmRSS");
    const long peak = statusKb(pid, "VmHWM");
    std::printf("velmar VmRSS at start %ld kB (peak %ld kB), after %ld kB (peak %ld kB)\n",
                startRss, startPeak, endRss, peak);
#ifndef __SANITIZE_ADDRESS__
    EXPECT_LT(peak, 30 * 1024);
#endif
    // The sanitizers' shadow memory makes the whole larger, not the growth.
    EXPECT_LT(peak - startPeak, 10 * 1024);
    EXPECT_LT(endRss - startRss, 10 * 1024);

    EXPECT_EQ(QFileInfo(tmp.path("emails/rejected/big.run")).size(), 100 * 1024 * 1024);
    EXPECT_FALSE(tmp.exists("emails/big.run"));
    EXPECT_TRUE(QFileInfo(emails + "/s.run").isSymLink());

    // A good request after them runs.
    tmp.write("emails/good.run", "Kitchen; Lights On\r\n");
    EXPECT_TRUE(waitForFrame(bytes({8, 55, 1, 'e', 'E', 'V', 1, 1, 1, 0, 0}), 10000))
        << output().toStdString();
    EXPECT_EQ(stopVelmar(), 0);

    // Nothing of the file outside reached velmar's output or any file in the data root.
    EXPECT_FALSE(output().contains(QString::fromLatin1(marker)));
    QDirIterator it(tmp.root(), QDir::Files | QDir::Hidden | QDir::NoSymLinks,
                    QDirIterator::Subdirectories);
    int logFiles = 0;  // files that hold the log's lines: the search would find the marker
    while (it.hasNext()) {
        const QString path = it.next();
        if (!it.fileInfo().isFile() || path.endsWith("/rejected/big.run"))
            continue;
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QByteArray content = f.readAll();
        logFiles += content.contains("is a symbolic link");
        EXPECT_FALSE(content.contains(marker)) << path.toStdString();
    }
    EXPECT_GT(logFiles, 0);
    ::chmod(QFile::encodeName(emails + "/z.run").constData(), 0644);
}

}  // namespace
}  // namespace velmar::test
