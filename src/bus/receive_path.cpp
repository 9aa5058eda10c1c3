#include "bus/receive_path.h"

#include "base/cp1250.h"
#include "base/log_text.h"
#include "bus/message_decoder.h"

namespace velmar {

namespace {

int byteAt(const QByteArray& b, int i) {
    return i < b.size() ? static_cast<std::uint8_t>(b[i]) : 0;
}

}  // namespace

void ReceivePath::restartQueryTimer(int ms) {
    port_.AutoQuery.pause(ms);
}

// Relay blocks pass between controllers through the PC: 29 bytes, byte 0 = 26, byte 5 "b" or
// "f". One addressed to a controller goes back unchanged; one addressed to the PC is answered
// as an "f" block. Returns true when the block was a relay block (it is not decoded).
bool ReceivePath::relayBlock(QByteArray& block, bool tcp) {
    const int kind = byteAt(block, 5);
    if (byteAt(block, 0) != 26 || (kind != 'b' && kind != 'f'))
        return false;
    if (!tcp && port_.AutoQuery.isActive())
        restartQueryTimer(489);
    if (tcp || rt_.flags.debugtimer) {
        QString line = QLatin1String(kind == 'b' ? "R " : (tcp ? "C " : "c "));
        for (int i = 1; i <= 10; ++i) {
            if (i > 1)
                line += QLatin1Char(' ');
            line += QString::number(byteAt(block, i));
        }
        rt_.log.admem(line);
    }
    QByteArray relay = block.left(29);
    if (relay.size() < 29)
        relay.append(29 - relay.size(), '\0');
    if (byteAt(block, 1) != 254 && byteAt(block, 2) != 254) {
        if (tcp) {
            if (tcp_)
                tcp_->SendViaTcp(relay, 29);
        } else if (serial_) {
            serial_->writeFrame(relay);
        }
    } else if (kind == 'b') {
        relay[5] = 'f';
        relay[19] = 'f';
        port_.writer.write_bin_rs232(relay, false);
    }
    port_.writer.setWasSend(false);
    return true;
}

void ReceivePath::markers(const QByteArray& block, bool tcp) {
    if (block.contains("lOKWRROM"))
        messages_.dispatch(msg::BlockWritten{tcp});
    if (block.contains("lERWRROM")) {
        rt_.log.admem(QStringLiteral("error write mem"));
        messages_.dispatch(msg::BlockRefused{});
    }
    if (block.contains("lALARM") && !rt_.flags.uploading)
        restartQueryTimer(rt_.settings.timing.AFTER_ALARM_RECEPTION);
    if (!rt_.flags.notstart)
        return;
    // "lRESTART" also holds "lRES": such a block is handled twice, as the controllers expect.
    for (const char* notice : {"lRESTART", "lRES"}) {
        if (!block.contains(notice))
            continue;
        port_.AutoQuery.stop();
        port_.AutoQuery.set(QueryTimer::Branch::Wait, rt_.settings.timing.WAIT_FOR_RESET_DEV);
        rcv_adrh = byteAt(block, port_.flags.linkel_addressing ? 3 : 0);
        rcv_adrl = byteAt(block, port_.flags.linkel_addressing ? 4 : 1);
        messages_.dispatch(msg::RestartNotice{{rcv_adrh, rcv_adrl}});
    }
}

void ReceivePath::confirmEcho(const QByteArray& block, bool tcp) {
    const FrameWriter::EchoState echo = port_.writer.echo();
    if (!echo.was_send) {
        cmd_stat = 0;
        return;
    }
    // The comparison covers the frame the echo reference belongs to.
    const int size = echo.sentFrameLength - 1;
    const bool linkel = port_.flags.linkel_addressing;
    if (FrameWriter::cmpbuf(echo.sent, block, size, linkel) != 0) {
        rt_.counters.echoFailures.fetch_add(1, std::memory_order_relaxed);
        port_.writer.setWasSend(false);
        if (tcp)
            port_.writer.clearSent(echo.sentFrameLength);
        cmd_stat = 0;
        return;
    }
    const QByteArray& sent = echo.sent;
    if (!linkel) {
        if (tcp && runCommand) {
            runCommand({byteAt(sent, 0), byteAt(sent, 1)}, QByteArrayLiteral("OK"));
        } else {
            QByteArray ok(1, 4);
            ok += sent.mid(0, 2);
            ok += "OK";
            port_.writer.Write_rs232(ok);
        }
    } else if (byteAt(sent, 1) == 254 && byteAt(sent, 2) == 254) {
        QByteArray ok(1, 6);
        ok += sent.mid(3, 2);
        ok += sent.mid(1, 2);
        ok += "OK";
        port_.writer.Write_rs232(ok);
    } else {
        port_.writer.write_bin_rs232(block, false);
    }
    cmd_stat = 1;
    port_.writer.setWasSend(false);
    if (rt_.flags.debugtimer)
        rt_.log.admem(QStringLiteral(">>OK"));
}

void ReceivePath::processSerialBlock(QByteArray block) {
    process(std::move(block), false);
}

void ReceivePath::ReadFromEthernet(QByteArray block) {
    process(std::move(block), true);
}

void ReceivePath::process(QByteArray block, bool tcp) {
    if (block.isEmpty())
        return;
    rt_.counters.framesReceived.fetch_add(1, std::memory_order_relaxed);
    if (block.size() > kMaxBlock)
        block.truncate(kMaxBlock);
    if (relayBlock(block, tcp))
        return;
    if (rt_.flags.debugtimer)
        rt_.log.admem(QLatin1String("<<") + logText(block));
    markers(block, tcp);
    confirmEcho(block, tcp);
    // Through a Linkel only what follows a frame that carried the PC's address is decoded.
    const QByteArray sent = port_.writer.echo().sent;
    if (!port_.flags.linkel_addressing || (byteAt(sent, 1) == 254 && byteAt(sent, 2) == 254))
        decoder_.DecodeMessageBuff(block);
}

}  // namespace velmar
