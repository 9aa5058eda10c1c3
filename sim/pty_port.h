#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace velmar::sim {

// The serial settings the PC's side of the line currently has.
struct LineSettings {
    unsigned speed = 0;        // bit/s
    int dataBits = 8;          // CSIZE
    bool parity = false;       // PARENB
    bool oddParity = false;    // PARODD
    bool twoStopBits = false;  // CSTOPB
};

// "speed 9600 csize 8 parenb 0 parodd 0 cstopb 0"
QString formatLineSettings(const LineSettings& settings);

// Reads the settings of a terminal, speed included whatever way it was set (standard rate or
// arbitrary rate). nullopt when fd is no terminal.
std::optional<LineSettings> readLineSettings(int fd);

// A pseudo-terminal: the simulator holds the master side, the PC opens the slave side as its
// serial port. Both sides start raw. The simulator keeps one descriptor of the slave open for
// the whole run, so that the master never sees a hang-up while the PC has the port closed and
// the slave's settings stay readable.
class PtyPort {
  public:
    PtyPort() = default;
    ~PtyPort();
    PtyPort(const PtyPort&) = delete;
    PtyPort& operator=(const PtyPort&) = delete;

    bool open(QString* error = nullptr);
    void close();
    bool isOpen() const { return master_ >= 0; }

    int masterFd() const { return master_; }
    QString slavePath() const { return slavePath_; }
    std::optional<LineSettings> lineSettings() const;

    // Writes the block in one write() so that it reaches the PC as one block. Waits up to
    // 200 ms for room when the PC is not reading; what still does not fit is dropped.
    // Returns the number of bytes written.
    qsizetype write(const QByteArray& block);

  private:
    int master_ = -1;
    int slave_ = -1;
    QString slavePath_;
};

}  // namespace velmar::sim
