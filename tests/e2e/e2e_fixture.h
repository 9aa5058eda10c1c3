#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <QTcpSocket>
#include <functional>

#include "bus/linkel_config.h"
#include "sim/simulator.h"
#include "support/temp_root.h"

namespace velmar::test {

QByteArray bytes(std::initializer_list<int> values);

// A fresh data root, the simulator on a pseudo-terminal named in "com.cfg", and velmar
// started headless against them. Every wait has a deadline.
class E2eTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Writes "com.cfg" with the simulator's terminal and `rate` as its second line.
    void writeComConfig(const QString& rate = QStringLiteral("115200"));
    // A controller's device file in "devices aliases", with the default display names;
    // `external` marks the external controller.
    void addDevice(int h, int l, const QString& name, const QString& type = "Quartel",
                   bool external = false);
    // Starts velmar and waits until it has opened the serial port; the test fails when either
    // does not happen within its deadline. output() holds this run's output only.
    void startVelmar(const QStringList& switches);
    void waitForPortOpen();
    // SIGTERM; the exit code, or -1 when velmar did not end within 10 s.
    int stopVelmar();

    // Everything velmar wrote on standard output so far.
    QString output();
    bool waitForLog(const QString& text, int timeoutMs = 10000);
    bool waitForFile(const QString& relative, int timeoutMs = 10000);
    bool waitForFrame(const QByteArray& frame, int timeoutMs = 10000);
    // Writes "linkelnet.cfg": 127.0.0.1, `port`, then the first `keyBytes` bytes of the key
    // after its unused byte 0 (fewer than 8 make a damaged file).
    void writeLinkelNet(std::uint16_t port, const LoginKey& key, int keyBytes = 8);
    // A port that "tcp.txt" takes (below 10000), free on 127.0.0.1 and, when asked, on
    // 127.0.0.2 as well; 0 when none was found.
    static std::uint16_t freePanelPort(bool alsoSecondLoopback = false);
    // Pumps until `done` holds; false when the deadline passed first.
    bool waitFor(const std::function<bool()>& done, int timeoutMs);
    // Reads exactly n bytes from a client socket within the deadline, pumping velmar's output
    // meanwhile; fewer when the deadline passed first.
    QByteArray readN(QTcpSocket& s, int n, int timeoutMs = 5000);
    // The last `count` frames the simulator recorded, a line each, for a failure's message.
    std::string framesText(int count = 40);
    // The recorded frames equal to `frame`, oldest first.
    std::vector<sim::RecordedFrame> framesEqual(const QByteArray& frame);
    // Keeps the event loop and the output flowing for `ms`.
    void pump(int ms);

    TempRoot tmp;
    sim::Simulator sim;
    QProcess velmar;
    QByteArray out_;
};

}  // namespace velmar::test
