#include "events/commands.h"

namespace velmar {

void Commands::run_command(DeviceAddress to, const QByteArray& text) {
    port_.AutoQuery.stop();
    QByteArray image;
    if (port_.flags.linkel_addressing) {
        image.append(static_cast<char>(text.size() + 4));
        image.append(static_cast<char>(to.high()));
        image.append(static_cast<char>(to.low()));
        image.append(static_cast<char>(FrameWriter::kPcAddress));
        image.append(static_cast<char>(FrameWriter::kPcAddress));
    } else {
        image.append(static_cast<char>(text.size() + 2));
        image.append(static_cast<char>(to.high()));
        image.append(static_cast<char>(to.low()));
    }
    image.append(text);
    if (port_.flags.tcpgatewayenabled)
        port_.writer.Write_rs232_TCP(image);
    else
        port_.writer.Write_rs232(image);
    port_.AutoQuery.setPause(5 * rt_.settings.timing.QUERY_DEV);
    if (!port_.flags.offline)
        port_.AutoQuery.start();
}

void Commands::query_device(DeviceAddress to) {
    run_command(to, QByteArrayLiteral("q"));
    port_.writer.setWasSend(false);
}

void Commands::reset_all_devs() {
    rt_.log.admem(QStringLiteral("Reset all devices"));
    port_.AutoQuery.stop();
    run_command({0, 0}, QByteArrayLiteral("eRESET"));
}

void Commands::set_time_all_devs() {
    port_.AutoQuery.stop();
    settime({0, 0});
    port_.writer.setWasSend(false);
    port_.AutoQuery.start();
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

void Commands::settime(DeviceAddress to) {
    if (rt_.flags.debugtimer)
        rt_.log.admem(QStringLiteral("Setting time"));
    const QByteArray image =
        setTimeImage(to.high(), to.low(), rt_.clock.now(), port_.flags.linkel_addressing);
    port_.writer.write_bin_rs232(image, false);
}

}  // namespace velmar
