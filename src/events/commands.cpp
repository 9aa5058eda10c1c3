#include "events/commands.h"

#include "base/clock.h"
#include "log/event_log.h"

namespace velmar {

void Commands::run_command(std::uint8_t adrh, std::uint8_t adrl, const QByteArray& text) {
    ctx_.AutoQuery.stop();
    QByteArray image;
    if (ctx_.flags.linkel_addressing) {
        image.append(static_cast<char>(text.size() + 4));
        image.append(static_cast<char>(adrh));
        image.append(static_cast<char>(adrl));
        image.append(static_cast<char>(FrameWriter::kPcAddress));
        image.append(static_cast<char>(FrameWriter::kPcAddress));
    } else {
        image.append(static_cast<char>(text.size() + 2));
        image.append(static_cast<char>(adrh));
        image.append(static_cast<char>(adrl));
    }
    image.append(text);
    if (ctx_.flags.tcpgatewayenabled)
        ctx_.writer.Write_rs232_TCP(image);
    else
        ctx_.writer.Write_rs232(image);
    ctx_.AutoQuery.setPause(5 * ctx_.timing.QUERY_DEV);
    if (!ctx_.flags.offline)
        ctx_.AutoQuery.start();
}

void Commands::query_device(std::uint8_t adrh, std::uint8_t adrl) {
    run_command(adrh, adrl, QByteArrayLiteral("q"));
    ctx_.writer.setWasSend(false);
}

void Commands::reset_all_devs() {
    ctx_.log.admem(QStringLiteral("Reset all devices"));
    ctx_.AutoQuery.stop();
    run_command(0, 0, QByteArrayLiteral("eRESET"));
}

void Commands::set_time_all_devs() {
    ctx_.AutoQuery.stop();
    settime(0, 0);
    ctx_.writer.setWasSend(false);
    ctx_.AutoQuery.start();
}

QByteArray Commands::setTimeImage(std::uint8_t adrh, std::uint8_t adrl, const QDateTime& now,
                                  bool linkelAddressing) {
    const QDate d = now.date();
    const QTime t = now.time();
    // Day of week 1 = Sunday .. 7 = Saturday.
    const int dow = d.dayOfWeek() % 7 + 1;
    const char stamp[8] = {
        static_cast<char>(t.second()),
        static_cast<char>(t.minute()),
        static_cast<char>(t.hour()),
        static_cast<char>(d.day()),
        static_cast<char>(dow),
        static_cast<char>(d.month()),
        static_cast<char>(d.year() - 2000),
        static_cast<char>(t.msec() * 7 / 1000),
    };
    QByteArray image;
    image.append(static_cast<char>(linkelAddressing ? 24 : 22));
    image.append(static_cast<char>(adrh));
    image.append(static_cast<char>(adrl));
    if (linkelAddressing) {
        image.append(static_cast<char>(FrameWriter::kPcAddress));
        image.append(static_cast<char>(FrameWriter::kPcAddress));
    }
    image.append('c');
    image.append(stamp, 8);
    image.append("--", 2);
    image.append(stamp, 8);
    image.append(4, '\0');
    return image.left(25);
}

void Commands::settime(std::uint8_t adrh, std::uint8_t adrl) {
    if (ctx_.debugtimer)
        ctx_.log.admem(QStringLiteral("Setting time"));
    const QByteArray image =
        setTimeImage(adrh, adrl, ctx_.clock.now(), ctx_.flags.linkel_addressing);
    ctx_.writer.write_bin_rs232(image, false);
}

}  // namespace velmar
