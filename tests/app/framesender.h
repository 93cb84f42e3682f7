#pragma once

// Real UDP tracking frames for the receiver and window tests, sent over
// loopback to a port the test picked.

#include <QByteArray>
#include <QHostAddress>
#include <QMutex>
#include <QThread>
#include <QUdpSocket>
#include <QVector>

#include <atomic>

namespace framesender {

// A port that was free a moment ago: bound on all addresses, like the SDK
// binds, and released again.
inline quint16 freeUdpPort()
{
    QUdpSocket probe;
    if (!probe.bind(QHostAddress::AnyIPv4, 0)) {
        return 0;
    }
    return probe.localPort();
}

struct Wand
{
    int buttons = 6;
    unsigned word = 0; // bit j set: button j + 1 pressed
    double x = 0.0;
    double y = 0.0;
    int joysticks = 2; // x, y, then zeros
};

// A frame with a "6df2 " line: one record per wand, Skywand count = records.
inline QByteArray frame6df2(const QVector<Wand>& wands, int frameNumber = 1)
{
    QByteArray out = "fr " + QByteArray::number(frameNumber) + "\nts 1.000\n6df2 ";
    out += QByteArray::number(wands.size()) + ' ' + QByteArray::number(wands.size());
    for (int i = 0; i < wands.size(); ++i) {
        const Wand& w = wands[i];
        out += " [" + QByteArray::number(i) + " 1.000 " + QByteArray::number(w.buttons) + ' ' +
               QByteArray::number(w.joysticks) + "][0 0 0][1 0 0 0 1 0 0 0 1][";
        if (w.buttons > 0) {
            out += QByteArray::number(w.word);
        }
        for (int j = 0; j < w.joysticks; ++j) {
            out += ' ' + QByteArray::number(j == 0 ? w.x : j == 1 ? w.y : 0.0, 'f', 3);
        }
        out += ']';
    }
    return out + '\n';
}

// A frame with a "6df " line: 8 button bits per wand.
inline QByteArray frame6df(const QVector<unsigned>& bits, int frameNumber = 1)
{
    QByteArray out = "fr " + QByteArray::number(frameNumber) + "\nts 1.000\n6df ";
    out += QByteArray::number(bits.size());
    for (int i = 0; i < bits.size(); ++i) {
        out += " [" + QByteArray::number(i) + " 1.000 " + QByteArray::number(bits[i]) +
               "][0 0 0][1 0 0 0 1 0 0 0 1]";
    }
    return out + '\n';
}

inline bool sendTo(quint16 port, const QByteArray& datagram)
{
    QUdpSocket socket;
    return socket.writeDatagram(datagram, QHostAddress::LocalHost, port) == datagram.size();
}

// Sends the current frame every few milliseconds from its own thread, so
// frames also arrive while the GUI thread blocks (the window's first receive).
class FrameStreamer : public QThread
{
public:
    FrameStreamer(quint16 port, QByteArray frame) : port(port), frame(std::move(frame)) {}
    ~FrameStreamer() override { stop(); }

    void setFrame(const QByteArray& next)
    {
        QMutexLocker lock(&mutex);
        frame = next;
    }
    void stop()
    {
        stopping = true;
        wait();
    }

protected:
    void run() override
    {
        QUdpSocket socket;
        while (!stopping) {
            QByteArray current;
            {
                QMutexLocker lock(&mutex);
                current = frame;
            }
            socket.writeDatagram(current, QHostAddress::LocalHost, port);
            msleep(10); // the send rate, not synchronisation
        }
    }

private:
    quint16 port;
    QMutex mutex;
    QByteArray frame;
    std::atomic<bool> stopping{false};
};

} // namespace framesender
