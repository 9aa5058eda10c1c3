#include "config/upload_engine.h"

namespace velmar {

namespace {

constexpr int kMaxErrors = 14;
// The bus is quiet this long after a frame of the PC: a controller has answered by then.
constexpr std::int64_t kQuietMs = 100;

const char* kindName(UploadJob::Kind k) {
    switch (k) {
        case UploadJob::Kind::Configuration:
            return "configuration";
        case UploadJob::Kind::FlashEvents:
            return "flash event tables";
        case UploadJob::Kind::RamEvents:
            return "RAM event tables";
        case UploadJob::Kind::Eeprom:
            return "EEPROM";
        default:
            return "IR settings";
    }
}

std::uint8_t at(const QByteArray& b, int i) {
    return i >= 0 && i < b.size() ? static_cast<std::uint8_t>(b[i]) : 0;
}

}  // namespace

UploadEngine::UploadEngine(Runtime& rt, BusPort& port, MessageDispatcher& messages, QObject* parent)
    : QObject(parent), rt_(rt), port_(port) {
    SendCfg.setInterval(100);
    TimeOut.setInterval(500);
    SendCfg.setTimerType(Qt::PreciseTimer);
    TimeOut.setTimerType(Qt::PreciseTimer);
    connect(&SendCfg, &QTimer::timeout, this, &UploadEngine::SendCfgTick);
    connect(&TimeOut, &QTimer::timeout, this, &UploadEngine::TimeOutTick);
    messages.subscribe<msg::BlockWritten>([this](const msg::BlockWritten& m) { onWritten(m); });
    messages.subscribe<msg::BlockRefused>([this](const msg::BlockRefused&) { onRefused(); });
}

UploadEngine::Timing UploadEngine::timing(UploadJob::Kind kind) {
    switch (kind) {
        case UploadJob::Kind::Configuration:
            return {500, 1000, "Error Writing config to Device"};
        case UploadJob::Kind::FlashEvents:
        case UploadJob::Kind::RamEvents:
            return {3050, 300, "Error Writing Events to Device "};
        case UploadJob::Kind::Eeprom:
            return {3001, 300, "Error Writing eeprom "};
        default:
            return {1450, 100, "Error Writing IR settings to Device "};
    }
}

bool UploadEngine::start(UploadJob job) {
    if (active_) {
        rt_.log.admem(QLatin1String("Upload refused while another runs: ") +
                      QLatin1String(kindName(job.kind)) + QLatin1String(" for ") + job.device +
                      QLatin1String(" (") + QLatin1String(kindName(job_.kind)) +
                      QLatin1String(" for ") + job_.device + QLatin1String(" is running)"));
        return false;
    }
    if (job.blocks.empty()) {
        rt_.log.admem(QLatin1String("Upload refused: no blocks for ") + job.device);
        return false;
    }
    job_ = std::move(job);
    active_ = true;
    index_flash_buff = 0;
    errors_events = 0;
    flash_buff_next = true;
    flash_buff_written_ok = false;
    rt_.flags.uploading = true;
    sent_all_bytes_ = false;
    port_.AutoQuery.stop();
    // The first block goes out at once when the bus is quiet; within 100 ms of a frame (a poll)
    // the controller's answer would arrive where the block's echo is expected, so it waits.
    const auto last = port_.writer.lastFrameMs();
    const std::int64_t since = last ? rt_.clock.monotonicMs() - *last : kQuietMs;
    if (since >= 0 && since < kQuietMs) {
        SendCfg.setInterval(static_cast<int>(kQuietMs - since));
        SendCfg.start();
    } else {
        SendCfgTick();
    }
    return true;
}

void UploadEngine::stop() {
    SendCfg.stop();
    TimeOut.stop();
    if (!active_)
        return;
    active_ = false;
    rt_.flags.uploading = false;
    sent_all_bytes_ = true;
    index_flash_buff = 0;
    flash_buff_next = true;
}

void UploadEngine::SendCfgTick() {
    if (rt_.flags.debugtimer)
        rt_.log.admem(QStringLiteral("sned cfg"));
    SendCfg.stop();
    port_.AutoQuery.set(QueryTimer::Branch::Normal, 7000);
    TimeOut.setInterval(1450);
    if (active_)
        routine();
}

void UploadEngine::TimeOutTick() {
    if (rt_.flags.debugtimer)
        rt_.log.admem(QStringLiteral("tmo ut"));
    SendCfg.stop();
    TimeOut.stop();
    if (!active_)
        return;
    flash_buff_written_ok = false;
    flash_buff_next = true;
    SendCfg.setInterval(400);
    SendCfg.start();
    ++errors_events;
}

// The routine of the running upload: hold the query cycle off, and send the next block unless
// one is still unconfirmed.
void UploadEngine::routine() {
    const Timing t = timing(job_.kind);
    port_.AutoQuery.stop();
    if (job_.kind == UploadJob::Kind::Eeprom)
        port_.AutoQuery.set(QueryTimer::Branch::Normal, 4700);
    else if (job_.kind == UploadJob::Kind::Ir)
        port_.AutoQuery.set(QueryTimer::Branch::Normal, 30000);
    sent_all_bytes_ = false;
    TimeOut.setInterval(t.timeOutMs);
    TimeOut.start();
    SendCfg.setInterval(t.sendMs);
    if (!flash_buff_next)
        return;
    flash_buff_next = false;
    SendCfg.stop();
    if (errors_events >= kMaxErrors) {
        end(false);
        return;
    }
    const int count = static_cast<int>(job_.blocks.size());
    if (index_flash_buff < count) {
        send(job_.blocks[static_cast<std::size_t>(index_flash_buff)]);
        if (job_.kind == UploadJob::Kind::Configuration) {
            TimeOut.setInterval(1000);
            TimeOut.start();
            if (index_flash_buff == 0)
                port_.AutoQuery.set(QueryTimer::Branch::Normal, 2300);
        }
        return;
    }
    end(true);
}

void UploadEngine::send(const QByteArray& block) {
    // Through a Linkel the sender's address goes into the frame, which may not grow past 254
    // bytes: the block loses its last bytes. Filler (0 or 255) is no loss worth a word.
    const int n = at(block, 0);
    if (port_.flags.linkel_addressing && n + 3 > 254) {
        bool lost = false;
        for (int i = 252; i <= n; ++i)
            lost = lost || (at(block, i) != 0 && at(block, i) != 255);
        if (lost)
            rt_.log.admem(QLatin1String("Block cut through the Linkel: ") +
                          QLatin1Char(static_cast<char>(at(block, 3))) + QLatin1String(" to ") +
                          job_.device + QLatin1String(" loses bytes 252-") + QString::number(n));
    }
    port_.writer.write_bin_rs232(block, true);
}

void UploadEngine::end(bool written) {
    const UploadJob job = job_;
    const QByteArray& first = job.blocks.front();
    index_flash_buff = 0;
    flash_buff_written_ok = false;
    flash_buff_next = true;
    SendCfg.stop();
    SendCfg.setInterval(100);
    TimeOut.stop();
    errors_events = 0;
    if (!written) {
        rt_.log.admem(dateTimeText(rt_.clock.now()) + QLatin1String(" :    ") + job.device +
                      QLatin1String(" ->    ") + QLatin1String(timing(job.kind).error) +
                      QLatin1String(" at Address (") + QString::number(at(first, 1)) +
                      QLatin1Char(',') + QString::number(at(first, 2)) + QLatin1Char(')'));
    } else if (job.kind == UploadJob::Kind::FlashEvents) {
        rt_.log.admem(QStringLiteral("Write Events Complete"));
        if (!job.ramBlocks.empty()) {
            // The RAM tables follow at once; the query cycle stays held.
            job_ = UploadJob{UploadJob::Kind::RamEvents, job.device, job.ramBlocks, {}};
            SendCfg.setInterval(300);
            SendCfg.start();
            return;
        }
    } else if (job.kind == UploadJob::Kind::Eeprom) {
        port_.AutoQuery.set(QueryTimer::Branch::Normal, 1200);
        rt_.log.admem(QStringLiteral("Write EEPROM Complete"));
    } else if (job.kind == UploadJob::Kind::Ir) {
        rt_.log.admem(QStringLiteral("Write IR Settings Complete"));
    }
    active_ = false;
    rt_.flags.uploading = false;
    sent_all_bytes_ = true;
    port_.AutoQuery.start();
    if (finished)
        finished(job, written);
}

void UploadEngine::onWritten(const msg::BlockWritten&) {
    // An acknowledgement while no block is on its way (no upload runs, or the block was already
    // given up by its time-out and waits to be sent again) changes nothing: counted, it would
    // skip the next block.
    if (!active_ || flash_buff_next)
        return;
    ++index_flash_buff;
    errors_events = 0;
    flash_buff_written_ok = true;
    flash_buff_next = true;
    SendCfg.setInterval(800);
    TimeOut.stop();
    SendCfg.start();
}

void UploadEngine::onRefused() {
    if (!active_ || flash_buff_next)
        return;
    flash_buff_written_ok = false;
    flash_buff_next = true;
    SendCfg.setInterval(500);
    SendCfg.start();
    TimeOut.stop();
    ++errors_events;
}

}  // namespace velmar
