#include "panels/panel_session.h"

#include <algorithm>
#include <vector>

namespace velmar {

std::array<std::uint8_t, 6> panelChallenge(const QDateTime& now) {
    const QTime t = now.time();
    const QDate d = now.date();
    return {static_cast<std::uint8_t>(t.msec() & 0xFF), static_cast<std::uint8_t>(t.second()),
            static_cast<std::uint8_t>(t.minute()),      static_cast<std::uint8_t>(t.hour()),
            static_cast<std::uint8_t>(d.day()),         static_cast<std::uint8_t>(d.month())};
}

// ---- PanelFeed ----

bool PanelFeed::offer(const QByteArray& record, std::int64_t nowMs, QByteArray& send) {
    if (record.isEmpty())
        return false;
    const int length = static_cast<std::uint8_t>(record[0]);
    if (length < 2 || record.size() < length + 1)
        return false;
    const QByteArray wire = record.left(length + 1);
    const auto device = static_cast<std::uint16_t>((static_cast<std::uint8_t>(wire[1]) << 8) |
                                                   static_cast<std::uint8_t>(wire[2]));
    auto it = devices_.find(device);
    if (it == devices_.end()) {
        it = devices_.insert(device, Device{});
        sendNow(*it, wire, nowMs, send);
        return true;
    }
    Device& d = *it;
    const std::int64_t due = d.sentMs + kMinGapMs;
    if (d.pendingSeq != 0) {
        due_.erase({due, d.pendingSeq});
        d.pendingSeq = 0;
        d.pending.clear();
    }
    if (nowMs >= due) {
        sendNow(d, wire, nowMs, send);
    } else if (wire != d.sent) {
        // The panel shows `sent`: only a change has to follow when the second is over.
        d.pending = wire;
        d.pendingSeq = nextSeq_++;
        due_.emplace(std::make_pair(due, d.pendingSeq), device);
    }
    return true;
}

void PanelFeed::sendNow(Device& d, const QByteArray& record, std::int64_t nowMs, QByteArray& send) {
    send.append(record);
    d.sent = record;
    d.sentMs = nowMs;
}

void PanelFeed::flush(std::int64_t nowMs, QByteArray& send) {
    // Everything due goes out, in the order it arrived.
    std::vector<std::pair<std::uint64_t, std::uint16_t>> ready;
    while (!due_.empty() && due_.begin()->first.first <= nowMs) {
        ready.emplace_back(due_.begin()->first.second, due_.begin()->second);
        due_.erase(due_.begin());
    }
    std::sort(ready.begin(), ready.end());
    for (const auto& [seq, device] : ready) {
        auto it = devices_.find(device);
        if (it == devices_.end() || it->pendingSeq != seq)
            continue;
        Device& d = *it;
        const QByteArray record = d.pending;
        d.pending.clear();
        d.pendingSeq = 0;
        sendNow(d, record, nowMs, send);
    }
}

std::optional<std::int64_t> PanelFeed::nextDue() const {
    if (due_.empty())
        return std::nullopt;
    return due_.begin()->first.first;
}

// ---- PanelSession ----

PanelSession::PanelSession(const std::optional<LoginKey>& key, QString address)
    : key_(key), address_(std::move(address)), host_(address_) {}

QString PanelSession::peerText() const {
    return address_ + QStringLiteral(" (") + host_ + QLatin1Char(')');
}

PanelSession::Actions PanelSession::start(const QDateTime& now, std::int64_t nowMs) {
    Actions out;
    if (state_ != State::Idle)
        return out;
    challenge_ = panelChallenge(now);
    out.send.append(reinterpret_cast<const char*>(challenge_.data()),
                    static_cast<qsizetype>(challenge_.size()));
    state_ = State::Login;
    filled_ = 0;
    deadline_ = nowMs + kLoginTimeoutMs;
    return out;
}

PanelSession::Actions PanelSession::receive(QByteArrayView bytes, std::int64_t nowMs) {
    // Bytes that are here count as read in time; a time-out is only what tick() sees.
    Actions out;
    for (qsizetype i = 0; i < bytes.size() && state_ != State::Closed; ++i)
        consume(static_cast<std::uint8_t>(bytes[i]), nowMs, out);
    return out;
}

void PanelSession::consume(std::uint8_t byte, std::int64_t nowMs, Actions& out) {
    switch (state_) {
        case State::Idle:
        case State::Closed:
            return;
        case State::Login:
            buffer_[static_cast<std::size_t>(filled_++)] = byte;
            if (filled_ < kResponseBytes)
                return;
            filled_ = 0;
            if (!key_ || !CheckChalangeResponse(challenge_.data(), buffer_.data(), *key_)) {
                out.log << peerText() + QStringLiteral(" Rejected");
                close(out);
                return;
            }
            out.send.append('>');
            state_ = State::Mode;
            deadline_ = nowMs + kModeTimeoutMs;
            return;
        case State::Mode:
            if (byte == 1) {
                state_ = State::Commands;
                commandTimeoutMs_ = kCommandTimeoutMs;
                deadline_ = nowMs + commandTimeoutMs_;
            } else if (byte >= 10) {
                state_ = State::Submission;
                submissionLeft_ = byte;
                filled_ = 0;
                records_.clear();
                deadline_ = nowMs + kSubmissionTimeoutMs;
            } else {
                close(out);  // 0 and 2..9
            }
            return;
        case State::Commands:
            if (byte == 0) {
                close(out);
            } else if (byte == 1) {
                deadline_ = nowMs + commandTimeoutMs_;
            } else if (byte == 'q') {
                commandTimeoutMs_ = kQuietCommandTimeoutMs;
                deadline_ = nowMs + commandTimeoutMs_;
            } else {
                startPanel(out);
            }
            return;
        case State::Submission:
            buffer_[static_cast<std::size_t>(filled_++)] = byte;
            --submissionLeft_;
            if (filled_ == kRecordBytes) {
                if (buffer_[2] != 0)
                    records_.append(
                        QByteArray(reinterpret_cast<const char*>(buffer_.data()), kRecordBytes));
                filled_ = 0;
            }
            if (submissionLeft_ == 0)
                finishSubmission(nowMs, out);
            else
                deadline_ = nowMs + kSubmissionTimeoutMs;
            return;
        case State::AfterSubmission:
            if (byte == 1)
                startPanel(out);
            else
                close(out);
            return;
        case State::Panel:
            if (byte == 0)
                close(out);
            return;  // anything else from a panel means nothing
    }
}

void PanelSession::startPanel(Actions& out) {
    state_ = State::Panel;
    out.log << QStringLiteral("Connecting Visualisation Panel: ") + peerText();
    out.panelStarted = true;
}

void PanelSession::finishSubmission(std::int64_t nowMs, Actions& out) {
    // A remainder shorter than a record is dropped.
    filled_ = 0;
    out.send.append('+');
    out.log << QStringLiteral("Events accepted from:") + peerText();
    out.submitted = true;
    out.records.append(records_);
    records_.clear();
    state_ = State::AfterSubmission;
    deadline_ = nowMs + kSubmissionTimeoutMs;
}

void PanelSession::close(Actions& out) {
    state_ = State::Closed;
    records_.clear();
    out.close = true;
}

PanelSession::Actions PanelSession::tick(std::int64_t nowMs) {
    Actions out;
    if (state_ == State::Panel) {
        feed_.flush(nowMs, out.send);
        return out;
    }
    if (state_ == State::Idle || state_ == State::Closed || nowMs < deadline_)
        return out;
    switch (state_) {
        case State::Commands:
            startPanel(out);
            break;
        case State::Submission:
            finishSubmission(nowMs, out);
            break;
        default:  // login, mode byte, the byte after a submission
            close(out);
            break;
    }
    return out;
}

PanelSession::Actions PanelSession::publish(const QByteArray& record, std::int64_t nowMs) {
    Actions out;
    if (state_ == State::Panel)
        feed_.offer(record, nowMs, out.send);
    return out;
}

PanelSession::Actions PanelSession::fail(const QString& reason) {
    Actions out;
    if (state_ == State::Closed)
        return out;
    if (state_ == State::Panel)
        out.log << QStringLiteral("Dropping Visualisation Panel ") + peerText() +
                       QStringLiteral(": ") + reason;
    close(out);
    return out;
}

std::optional<std::int64_t> PanelSession::deadline() const {
    switch (state_) {
        case State::Idle:
        case State::Closed:
            return std::nullopt;
        case State::Panel:
            return feed_.nextDue();
        default:
            return deadline_;
    }
}

}  // namespace velmar
