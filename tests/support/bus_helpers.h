#pragma once

#include <QByteArray>
#include <initializer_list>
#include <vector>

#include "bus/frame_writer.h"

namespace velmar::test {

inline QByteArray bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (int v : values)
        out.append(static_cast<char>(v));
    return out;
}

// Drops every frame.
struct NullSerial : SerialOutput {
    bool writeFrame(const QByteArray&) override { return true; }
};

// Keeps every frame handed to the serial port.
struct CaptureSerial : SerialOutput {
    std::vector<QByteArray> frames;
    bool writeFrame(const QByteArray& f) override {
        if (!portOpen)
            return false;
        frames.push_back(f);
        return true;
    }
    bool portOpen = true;
};

struct CaptureTcp : TcpOutput {
    std::vector<QByteArray> frames;
    void SendViaTcp(const QByteArray& b, int size) override { frames.push_back(b.left(size)); }
};

}  // namespace velmar::test
