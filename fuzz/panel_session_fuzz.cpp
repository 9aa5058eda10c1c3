// One panel server connection driven by random bytes, time steps, status records and failures.
// The first byte picks the set-up: whether a correct login response goes first (so that the
// rest reaches the command loop, the submissions and the panel stream), whether the connection
// is made a panel stream at once, and the time of the challenge. The rest is a list of
// operations. Nothing may crash, leak or read out of bounds, and what the session sends must
// keep its shape.
#include <QByteArray>
#include <QDateTime>
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "panels/panel_session.h"

namespace {

using velmar::LoginKey;
using velmar::PanelSession;

const LoginKey kKey{0, 3, 141, 59, 26, 53, 58, 97, 93};

void require(bool ok) {
    if (!ok)
        std::abort();
}

// Status bytes are whole records: byte 0 its length L >= 2, then L bytes.
bool wholeRecords(const QByteArray& bytes) {
    qsizetype i = 0;
    while (i < bytes.size()) {
        const int length = static_cast<std::uint8_t>(bytes[i]);
        if (length < 2 || i + length + 1 > bytes.size())
            return false;
        i += length + 1;
    }
    return true;
}

struct Driver {
    PanelSession session{kKey, QStringLiteral("127.0.0.20")};
    std::int64_t now = 5000000;
    bool submitted = false;

    void check(const PanelSession::Actions& a, bool wasClosed, bool wasPanel) {
        if (wasClosed) {
            require(a.send.isEmpty() && a.log.isEmpty() && !a.submitted && a.records.isEmpty() &&
                    !a.panelStarted && !a.close);
            return;
        }
        for (const QByteArray& r : a.records)
            require(r.size() == PanelSession::kRecordBytes && r[2] != 0);
        if (a.submitted) {
            require(!submitted);  // one submission per connection
            submitted = true;
        }
        require(a.close == session.isClosed());
        if (wasPanel) {
            require(!a.panelStarted && !a.submitted);
            require(wholeRecords(a.send));
        }
        if (!session.isClosed() && session.state() != PanelSession::State::Panel)
            require(session.deadline().has_value());
    }

    template <typename F>
    void step(F&& f) {
        const bool wasClosed = session.isClosed();
        const bool wasPanel = session.state() == PanelSession::State::Panel;
        check(f(), wasClosed, wasPanel);
    }
    void feed(const QByteArray& bytes) {
        step([&] { return session.receive(bytes, now); });
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const std::uint8_t mode = data[0];
    Driver d;
    const QDateTime wall =
        QDateTime(QDate(2026, 12, 9), QTime(10, 11, 12, 345)).addMSecs((mode >> 2) * 7919);
    d.step([&] {
        auto a = d.session.start(wall, d.now);
        require(a.send.size() == 6);
        return a;
    });
    if (mode & 1) {
        const auto r = velmar::CalculateChalangeResponse(d.session.challenge().data(), kKey);
        d.feed(QByteArray(reinterpret_cast<const char*>(r.data()), 13));
        require(d.session.state() == PanelSession::State::Mode);
        if (mode & 2) {
            d.feed(QByteArray("\x01x", 2));
            require(d.session.state() == PanelSession::State::Panel);
        }
    }

    std::size_t i = 1;
    auto take = [&](std::size_t n) {
        n = std::min(n, size - i);
        QByteArray b(reinterpret_cast<const char*>(data + i), static_cast<qsizetype>(n));
        i += n;
        return b;
    };
    while (i < size) {
        const std::uint8_t op = data[i++];
        const int arg = op >> 3;
        switch (op & 7) {
            case 0:
            case 1:
            case 2:  // bytes from the client, in pieces of 1..32
                d.feed(take(static_cast<std::size_t>(arg) + 1));
                break;
            case 3:  // time passes
                d.now += static_cast<std::int64_t>(arg) * arg * 7;
                d.step([&] { return d.session.tick(d.now); });
                break;
            case 4:  // straight to the next deadline
                if (const auto due = d.session.deadline())
                    d.now = std::max(d.now, *due);
                d.step([&] { return d.session.tick(d.now); });
                break;
            case 5:
            case 6: {  // a status record, maybe malformed: the length byte says what it likes
                const QByteArray record = take(static_cast<std::size_t>(arg) * 9 + 1);
                d.step([&] {
                    auto a = d.session.publish(record, d.now);
                    // Sent at once or kept: never anything but the record itself.
                    require(a.send.isEmpty() ||
                            (!record.isEmpty() &&
                             a.send == record.left(static_cast<std::uint8_t>(record[0]) + 1)));
                    return a;
                });
                break;
            }
            case 7:
                if (arg == 31)
                    d.step([&] { return d.session.fail(QStringLiteral("reset")); });
                else
                    d.now += arg;
                break;
        }
    }
    return 0;
}
