#include "devices/status_decoder.h"

#include <exception>

#include "devices/registry.h"

namespace velmar {

StatusDecoder::StatusDecoder(Runtime& rt, DeviceRegistry& registry, StatusFiles& files,
                             AlarmState& alarms)
    : sensel(rt, registry, files, outrel, alarms, views),
      rt_(rt),
      registry_(registry),
      files_(files),
      publication_(rt, files),
      views_(rt, files, views) {}

void StatusDecoder::set_ql(const QByteArray& block) {
    const int start = findStatusFrame(block, rt_.flags.TCP_INDEX_INC);
    if (start < 0)
        return;
    decodeAt(block, start, false);
}

void StatusDecoder::set_ql_record(const QByteArray& record) {
    {
        std::lock_guard lock(cacheMutex_);
        TCPQuery_.fill(0);
        const auto n = std::min<qsizetype>(record.size(), kPanelCacheSize - 1);
        std::copy_n(reinterpret_cast<const std::uint8_t*>(record.constData()), n,
                    TCPQuery_.begin());
    }
    set_ql(record);
}

std::array<std::uint8_t, StatusDecoder::kPanelCacheSize> StatusDecoder::panelSnapshot() const {
    std::lock_guard lock(cacheMutex_);
    return TCPQuery_;
}

void StatusDecoder::write_status_logs(const std::array<std::uint8_t, kPanelCacheSize>& cache) {
    const int length = cache[0] + 2;
    const QByteArray bytes(reinterpret_cast<const char*>(cache.data()), length);
    const QString stem = QLatin1String("logs\\status\\") + QString::number(cache[1]) +
                         QLatin1Char('-') + QString::number(cache[2]);
    // The cache is the same while the device's state is; unchanged files are not rewritten.
    files_.writeBytesIfChanged(stem + QLatin1String(".stat"), bytes,
                               QStringLiteral("Error writing status file: "));
    files_.writeBytesIfChanged(stem + QLatin1String(".sta"), bytes,
                               QStringLiteral("Error writing status file: "));
}

// A checked frame: the panel record, the status cache files and the flag of the longer layouts.
void StatusDecoder::accept(const StatusFrame& f) {
    const auto cache = panelRecord(f);
    {
        std::lock_guard lock(cacheMutex_);
        TCPQuery_ = cache;
    }
    write_status_logs(cache);
    if (f.code != 52) {
        files_.flag(QStringLiteral("Velmar$#AQuery.cfg"),
                    f.code == 122 ? QStringLiteral("Error writing flag file qrx: ")
                                  : QStringLiteral("Error writing flag file qrex: "));
    }
}

void StatusDecoder::decodeAt(const QByteArray& block, int start, bool dontCheckBuffer) {
    try {
        // The Linkel hands over each record once, after its length byte: it is decoded at that
        // offset, without the repetition check.
        const bool companion = rt_.flags.linkel_companion;
        if (companion)
            dontCheckBuffer = true;
        const int tcpIndexInc = rt_.flags.TCP_INDEX_INC;
        // The sender is heard from whether or not the frame is whole.
        const auto seen = parseStatusFrame(block, start, tcpIndexInc, false);
        const QDateTime now = rt_.clock.now();
        const std::int64_t nowMs = rt_.clock.monotonicMs();
        for (int i = 0; i < registry_.quartel_max && i < DeviceRegistry::kMaxPolled; ++i) {
            auto& entry = registry_.rms[static_cast<std::size_t>(i)];
            if (entry.adrh == seen->sender.adrh && entry.adrl == seen->sender.adrl) {
                entry.recent = now;
                entry.recentMs = nowMs;
            }
        }

        std::optional<StatusFrame> frame = seen;
        if (!dontCheckBuffer) {
            {
                std::lock_guard lock(cacheMutex_);
                TCPQuery_[0] = 0;
            }
            frame = parseStatusFrame(block, start, tcpIndexInc, true);
            if (!frame)
                return;
            accept(*frame);
        } else if (companion) {
            // The Linkel's record is the cache as it came.
            write_status_logs(panelSnapshot());
        }

        an* state = registry_.stateOf(frame->sender.adrh, frame->sender.adrl);
        if (!state) {
            const StatusChange change{*frame, nullptr, false, {}, {}};
            for (const Listener& listener : listeners_)
                listener(change);
            return;
        }
        StatusChange change = applyStatus(*frame, *state, outrel, registry_);
        publication_.files(change);
        if (change.outrel)
            sensel.publish(change);
        publication_.text(change, outrel);
        views_.publish(change);
        for (const Listener& listener : listeners_)
            listener(change);
    } catch (const std::exception& e) {
        rt_.log.admem(QLatin1String("Error decoding status: ") + QString::fromLocal8Bit(e.what()));
    } catch (...) {
        rt_.log.admem(QStringLiteral("Error decoding status: unknown error"));
    }
}

}  // namespace velmar
