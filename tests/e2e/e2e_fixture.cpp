#include "e2e_fixture.h"

#include <unistd.h>

#include "support/receive_rig.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QTcpServer>
#include <QThread>

namespace velmar::test {

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (int v : values)
        out.append(static_cast<char>(v));
    return out;
}

void E2eTest::SetUp() {
    QString error;
    ASSERT_TRUE(sim.start(&error)) << error.toStdString();
    writeComConfig();
}

void E2eTest::TearDown() {
    if (velmar.state() != QProcess::NotRunning)
        stopVelmar();
    sim.stop();
}

void E2eTest::writeComConfig(const QString& rate) {
    tmp.write("com.cfg", (sim.ptyPath() + "\r\n" + rate + "\r\n").toUtf8());
}

void E2eTest::addDevice(int h, int l, const QString& name, const QString& type, bool external) {
    tmp.write(QStringLiteral("devices aliases/%1-%2.dev").arg(h).arg(l),
              deviceFile(name, h, l, type, external));
}

void E2eTest::startVelmar(const QStringList& switches) {
    // Each start is judged by its own output only: a line of an earlier run must not pass for
    // this one's.
    if (velmar.state() != QProcess::NotRunning || velmar.bytesAvailable() > 0)
        velmar.readAll();
    out_.clear();
    velmar.setProcessChannelMode(QProcess::MergedChannels);
    velmar.start(QStringLiteral(VELMAR_BIN_DIR "/velmar"),
                 QStringList{"--headless", "--root", tmp.root()} + switches);
    ASSERT_TRUE(velmar.waitForStarted(5000));
    ASSERT_TRUE(waitForLog("Velmar Manager started")) << output().toStdString();
    // Offline or through a Linkel the serial port stays closed.
    for (const char* noPort : {"/offline", "/viatcp", "/tcpquery", "/Linkel"}) {
        if (switches.contains(QLatin1String(noPort)))
            return;
    }
    waitForPortOpen();
}

void E2eTest::waitForPortOpen() {
    // The reader thread opens the port after start-up and flushes it: bytes written before
    // that are lost, as on a real line. It logs the opening once the flush is behind it.
    if (!waitForLog(QStringLiteral("Serial port opened: ") + sim.ptyPath(), 10000))
        ADD_FAILURE() << "velmar did not open " << sim.ptyPath().toStdString() << ":\n"
                      << output().toStdString();
}

int E2eTest::stopVelmar() {
    velmar.terminate();
    if (!velmar.waitForFinished(10000)) {
        velmar.kill();
        velmar.waitForFinished(2000);
        return -1;
    }
    output();
    return velmar.exitStatus() == QProcess::NormalExit ? velmar.exitCode() : -1;
}

QString E2eTest::output() {
    out_ += velmar.readAll();
    return QString::fromUtf8(out_);
}

bool E2eTest::waitForLog(const QString& text, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!output().contains(text)) {
        if (deadline.hasExpired() || velmar.state() == QProcess::NotRunning)
            return output().contains(text);
        velmar.waitForReadyRead(20);
    }
    return true;
}

bool E2eTest::waitForFile(const QString& relative, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!QFileInfo::exists(tmp.path(relative))) {
        if (deadline.hasExpired())
            return false;
        pump(20);
    }
    return true;
}

bool E2eTest::waitForFrame(const QByteArray& frame, int timeoutMs) {
    // velmar's output is read meanwhile: a full pipe would stop it.
    QDeadlineTimer deadline(timeoutMs);
    const auto equal = [&frame](const QByteArray& f) { return f == frame; };
    while (!sim.waitForFrame(equal, 50)) {
        if (deadline.hasExpired())
            return false;
        pump(10);
    }
    return true;
}

void E2eTest::writeLinkelNet(std::uint16_t port, const LoginKey& key, int keyBytes) {
    QByteArray cfg = "127.0.0.1\r\n" + QByteArray::number(port) + "\r\n";
    for (int i = 1; i <= keyBytes; ++i)
        cfg += QByteArray::number(key[static_cast<std::size_t>(i)]) + "\r\n";
    tmp.write("linkelnet.cfg", cfg);
}

std::uint16_t E2eTest::freePanelPort(bool alsoSecondLoopback) {
    for (int i = 0; i < 3000; ++i) {
        const auto candidate = static_cast<std::uint16_t>(7000 + (getpid() * 3 + i * 11) % 3000);
        QTcpServer one, two;
        if (one.listen(QHostAddress::LocalHost, candidate) &&
            (!alsoSecondLoopback ||
             two.listen(QHostAddress(QStringLiteral("127.0.0.2")), candidate)))
            return candidate;
    }
    return 0;
}

bool E2eTest::waitFor(const std::function<bool()>& done, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        pump(20);
    }
    return true;
}

QByteArray E2eTest::readN(QTcpSocket& s, int n, int timeoutMs) {
    QByteArray got;
    QDeadlineTimer deadline(timeoutMs);
    while (got.size() < n && !deadline.hasExpired()) {
        if (s.bytesAvailable() == 0 && !s.waitForReadyRead(20))
            pump(1);
        got += s.read(n - got.size());
    }
    return got;
}

std::string E2eTest::framesText(int count) {
    const auto frames = sim.frames();
    std::string text = "frames the simulator recorded (last " + std::to_string(count) + "):\n";
    for (std::size_t i = frames.size() > std::size_t(count) ? frames.size() - count : 0;
         i < frames.size(); ++i)
        text += frames[i].line().toStdString() + (frames[i].complete ? "\n" : " (cut)\n");
    return text;
}

std::vector<sim::RecordedFrame> E2eTest::framesEqual(const QByteArray& frame) {
    std::vector<sim::RecordedFrame> found;
    for (const auto& f : sim.frames())
        if (f.bytes == frame)
            found.push_back(f);
    return found;
}

void E2eTest::pump(int ms) {
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        if (!velmar.waitForReadyRead(10))
            QThread::msleep(5);
        output();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

}  // namespace velmar::test
