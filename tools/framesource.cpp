#include "framesource.h"

#include "netio.h"
#include "sockets.h"
#include "trackingsdk.h"

#include <vector>

ReceiveOutcome decodeDatagram(FrameData& frame, const char* data, size_t length,
                              int32_t bufferSize)
{
    // receive() hands the socket bufferSize - 1 bytes and accepts only what is
    // shorter than that, leaving room for the terminating NUL.
    if (length == 0 || bufferSize < 2 || length >= size_t(bufferSize) - 1)
        return ReceiveOutcome::Net;
    return decodeFrame(frame, data, length) ? ReceiveOutcome::Frame : ReceiveOutcome::Parse;
}

namespace {

class SdkFrameSource : public FrameSource
{
public:
    explicit SdkFrameSource(uint16_t requestedPort)
        : sdk("", 0, requestedPort, ReceiveSettings::kBufferSize, ReceiveSettings::kDataTimeoutUs,
              ReceiveSettings::kServerTimeoutUs)
    {
    }

    bool isValid() const { return sdk.isValid(); }
    uint16_t port() const override { return sdk.getDataPort(); }

    ReceiveOutcome receive() override
    {
        const bool ok = sdk.receive();
        ReceiveOutcome outcome = ReceiveOutcome::Frame;
        if (!ok)
            outcome = sdk.isDataTimeout()   ? ReceiveOutcome::Timeout
                      : sdk.isDataNetError() ? ReceiveOutcome::Net
                                             : ReceiveOutcome::Parse;
        snapshot();
        return outcome;
    }

    const FrameData& frame() const override { return copy; }
    const UdpPacket* lastDatagram() const override { return nullptr; }
    int discarded() const override { return -1; }

private:
    template <typename Record, typename Get>
    static void copyRecords(int32_t count, std::vector<Record>& records, Get get)
    {
        records.resize(count > 0 ? size_t(count) : 0);
        for (int32_t i = 0; i < count; ++i)
            records[size_t(i)] = get(i);
    }

    // Copies what the accessors hand out, so both sources render alike.
    void snapshot()
    {
        copy.frameCounter = sdk.getFrameCounter();
        copy.timestamp = sdk.getTimestamp();
        copy.numBody = sdk.getNumBody();
        copyRecords(copy.numBody, copy.bodies, [&](int32_t i) { return sdk.getBody(i); });
        copy.numSkywand = sdk.getNumSkywand();
        copyRecords(copy.numSkywand, copy.skywands, [&](int32_t i) { return sdk.getSkywand(i); });
        copy.numMeasurementTool = sdk.getNumMeasurementTool();
        copyRecords(copy.numMeasurementTool, copy.measurementTools,
                    [&](int32_t i) { return sdk.getMeasurementTool(i); });
        copy.numHand = sdk.getNumHand();
        copyRecords(copy.numHand, copy.hands, [&](int32_t i) { return sdk.getHand(i); });
        copy.numMarker = sdk.getNumMarker();
        copyRecords(copy.numMarker, copy.markers, [&](int32_t i) { return sdk.getMarker(i); });
    }

    TrackingSdk sdk;
    FrameData copy;
};

class SocketFrameSource : public FrameSource
{
public:
    bool open(uint16_t requestedPort, std::string& error)
    {
        buffer.assign(size_t(ReceiveSettings::kBufferSize), '\0');
        return receiver.open(requestedPort, error);
    }

    uint16_t port() const override { return receiver.boundPort(); }

    ReceiveOutcome receive() override
    {
        haveDatagram = false;
        data.beginFrame();
        const int n = receiver.receive(buffer.data(), ReceiveSettings::kBufferSize - 1,
                                       ReceiveSettings::kDataTimeoutUs, true, info);
        lastDiscarded = info.discarded;
        if (n == SocketResult::kTimeout)
            return ReceiveOutcome::Timeout;
        if (n < 1)
            return ReceiveOutcome::Net;
        const ReceiveOutcome outcome =
            decodeDatagram(data, buffer.data(), size_t(n), ReceiveSettings::kBufferSize);
        if (outcome != ReceiveOutcome::Net) {
            haveDatagram = true;
            datagram.timeUs = info.arrivalUs;
            datagram.sourceAddress = info.sourceAddress;
            datagram.sourcePort = info.sourcePort;
            datagram.destinationAddress = info.destinationAddress;
            datagram.destinationPort = info.destinationPort;
            datagram.payload = reinterpret_cast<const uint8_t*>(buffer.data());
            datagram.length = size_t(n);
        }
        return outcome;
    }

    const FrameData& frame() const override { return data; }
    const UdpPacket* lastDatagram() const override { return haveDatagram ? &datagram : nullptr; }
    int discarded() const override { return lastDiscarded; }

private:
    UdpReceiver receiver;
    std::vector<char> buffer;
    FrameData data;
    UdpPacket datagram;
    DatagramInfo info;
    bool haveDatagram = false;
    int lastDiscarded = 0;
};

} // namespace

std::unique_ptr<FrameSource> makeSdkFrameSource(uint16_t port, std::string& error)
{
    auto source = std::make_unique<SdkFrameSource>(port);
    if (!source->isValid()) {
        error = "cannot open UDP port " + std::to_string(port) + " for tracking data";
        return nullptr;
    }
    return source;
}

std::unique_ptr<FrameSource> makeSocketFrameSource(uint16_t port, std::string& error)
{
    auto source = std::make_unique<SocketFrameSource>();
    if (!source->open(port, error))
        return nullptr;
    return source;
}
