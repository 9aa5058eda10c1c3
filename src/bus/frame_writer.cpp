#include "bus/frame_writer.h"

#include "base/clock.h"
#include "log/event_log.h"

namespace velmar {

namespace {

std::uint8_t byteAt(const QByteArray& a, int i) {
    return static_cast<std::uint8_t>(a[i]);
}

QString hex(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.left(16).toHex(' ')) +
           (bytes.size() > 16 ? QStringLiteral(" ...") : QString());
}

}  // namespace

FrameWriter::FrameWriter(EventLog& log, const BusFlags& flags, const Clock& clock)
    : log_(log), flags_(flags), clock_(clock) {
    state_.sent = QByteArray(kSentSize, '\0');
}

bool FrameWriter::validImage(const QByteArray& text, const char* writer) {
    if (text.isEmpty()) {
        log_.admem(QLatin1String("Error writing frame: ") + QLatin1String(writer) +
                   QLatin1String(" -> empty frame image"));
        return false;
    }
    const int n = byteAt(text, 0);
    if (n < 3 || text.size() < n + 1) {
        log_.admem(QLatin1String("Error writing frame: ") + QLatin1String(writer) +
                   QLatin1String(" -> count byte ") + QString::number(n) +
                   QLatin1String(" does not fit the image of ") + QString::number(text.size()) +
                   QLatin1String(" bytes: ") + hex(text));
        return false;
    }
    return true;
}

void FrameWriter::recordSent(const QByteArray& frame, bool clearAll) {
    QByteArray& sent = state_.sent;
    if (clearAll)
        sent.fill('\0');
    int copied = 0;
    if (flags_.linkel_addressing) {
        copied = static_cast<int>(frame.size());
        std::memcpy(sent.data(), frame.constData(), static_cast<size_t>(copied));
        if (copied >= 5) {
            std::swap(sent[1], sent[3]);
            std::swap(sent[2], sent[4]);
        }
    } else {
        copied = static_cast<int>(frame.size()) - 1;
        std::memcpy(sent.data(), frame.constData() + 1, static_cast<size_t>(copied));
    }
    sent[copied] = '\0';
    sent[copied + 1] = '\0';
    state_.sentFrameLength = static_cast<int>(frame.size());
}

void FrameWriter::send(const QByteArray& frame, bool serialAllowed) {
    if (flags_.tcpgatewayenabled) {
        if (tcp_)
            tcp_->SendViaTcp(frame, static_cast<int>(frame.size()));
        state_.byteswritten = static_cast<std::int32_t>(frame.size());
        lastFrameMs_ = clock_.monotonicMs();
    } else if (serialAllowed && serial_) {
        lastFrameMs_ = clock_.monotonicMs();
        if (!serial_->writeFrame(frame))
            return;  // no port: the frame did not go out
    } else {
        return;
    }
    if (counters_)
        counters_->framesSent.fetch_add(1, std::memory_order_relaxed);
}

std::optional<std::int64_t> FrameWriter::lastFrameMs() const {
    std::lock_guard lock(mutex_);
    return lastFrameMs_;
}

bool FrameWriter::Write_rs232(const QByteArray& text) {
    std::lock_guard lock(mutex_);
    if (!flags_.tcpgatewayenabled && flags_.offline)
        return false;
    return writeText(text, "Write_rs232", true);
}

bool FrameWriter::Write_rs232_TCP(const QByteArray& text) {
    std::lock_guard lock(mutex_);
    // Only the Linkel link sends through this writer; without it the echo reference is still
    // recorded.
    return writeText(text, "Write_rs232_TCP", false);
}

bool FrameWriter::writeText(const QByteArray& text, const char* writer, bool serialAllowed) {
    if (!validImage(text, writer))
        return false;
    const int n = byteAt(text, 0);
    state_.was_send = false;
    state_.bytes_to_write = static_cast<std::uint32_t>(n + 1);
    if (state_.bytes_to_write > 5)
        state_.was_send = true;
    QByteArray frame = text.left(n + 1);
    frame[0] = static_cast<char>(n - 2);
    recordSent(frame, false);
    send(frame, serialAllowed);
    return true;
}

bool FrameWriter::write_bin_rs232(QByteArray text, bool insert_address) {
    std::lock_guard lock(mutex_);
    if (!flags_.tcpgatewayenabled && flags_.offline)
        return false;
    if (!validImage(text, "write_bin_rs232"))
        return false;
    const int n = byteAt(text, 0);
    state_.was_send = false;
    QByteArray frame;
    if (insert_address && flags_.linkel_addressing) {
        // The sender address goes in after the destination; the length byte then counts every
        // byte after itself. A frame longer than 254 bytes is cut to 254.
        const int total = std::min(n + 3, 254);
        frame.reserve(total);
        frame.append(static_cast<char>(total - 1));
        frame.append(text.mid(1, 2));
        frame.append(static_cast<char>(kPcAddress));
        frame.append(static_cast<char>(kPcAddress));
        frame.append(text.mid(3, n - 2));
        frame.truncate(total);
    } else {
        frame = text.left(n + 1);
        frame[0] = static_cast<char>(n - 2);
    }
    state_.bytes_to_write = static_cast<std::uint32_t>(frame.size());
    if (state_.bytes_to_write > 4)
        state_.was_send = true;
    recordSent(frame, true);
    send(frame, true);
    return true;
}

bool FrameWriter::write_bin_rs232_TCP(QByteArray text) {
    std::lock_guard lock(mutex_);
    if (!flags_.tcpgatewayenabled)
        return false;
    if (!validImage(text, "write_bin_rs232_TCP"))
        return false;
    const int n = byteAt(text, 0);
    QByteArray frame = text.left(n + 1);
    frame[0] = static_cast<char>(n - 2);
    state_.was_send = frame.size() > 4;
    state_.bytes_to_write = static_cast<std::uint32_t>(n + 1);
    // The callers put 254,254 into the image themselves; the echo reference follows the same
    // layout rule as every other writer.
    recordSent(frame, true);
    send(frame, false);
    return true;
}

FrameWriter::EchoState FrameWriter::echo() const {
    std::lock_guard lock(mutex_);
    // Only the part of the reference that belongs to the last frame (and its two closing
    // zeros) is handed out: the receive path asks for it with every block.
    EchoState copy;
    copy.sent = state_.sent.left(std::max(state_.sentFrameLength + 2, 5));
    copy.was_send = state_.was_send;
    copy.bytes_to_write = state_.bytes_to_write;
    copy.byteswritten = state_.byteswritten;
    copy.sentFrameLength = state_.sentFrameLength;
    return copy;
}

bool FrameWriter::was_send() const {
    std::lock_guard lock(mutex_);
    return state_.was_send;
}

void FrameWriter::setWasSend(bool value) {
    std::lock_guard lock(mutex_);
    state_.was_send = value;
}

void FrameWriter::clearSent(int count) {
    std::lock_guard lock(mutex_);
    count = std::clamp(count, 0, kSentSize);
    std::memset(state_.sent.data(), 0, static_cast<size_t>(count));
}

int FrameWriter::cmpbuf(const QByteArray& sent, const QByteArray& received, int size,
                        bool linkelAddressing) {
    const int first = linkelAddressing ? 1 : 2;
    const int last = linkelAddressing ? size : size - 1;
    for (int i = first; i <= last; ++i) {
        const char a = i < sent.size() ? sent[i] : '\0';
        const char b = i < received.size() ? received[i] : '\0';
        if (a != b)
            return 1;
    }
    return 0;
}

}  // namespace velmar
