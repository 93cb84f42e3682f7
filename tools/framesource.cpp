#include "framesource.h"

#include "netio.h"

#include <vector>

namespace {

template <typename Record, typename Get>
void copyRecords(int32_t count, std::vector<Record>& records, Get get)
{
    records.resize(count > 0 ? size_t(count) : 0);
    for (int32_t i = 0; i < count; ++i)
        records[size_t(i)] = get(i);
}

} // namespace

bool FrameSource::open(uint16_t requestedPort, std::string& error)
{
    sdk = std::make_unique<TrackingSdk>("", 0, requestedPort, TrackingSdk::kDefaultDataBufferSize,
                                        TrackingSdk::kDefaultDataTimeoutUs,
                                        TrackingSdk::kDefaultServerTimeoutUs);
    if (sdk->isValid())
        return true;
    error = "cannot open UDP port " + std::to_string(requestedPort) + ": " +
            udpPortRefusal(requestedPort);
    sdk.reset();
    return false;
}

uint16_t FrameSource::port() const
{
    return sdk ? sdk->getDataPort() : 0;
}

void FrameSource::setEveryDatagram(bool on)
{
    if (sdk)
        sdk->setReceiveEveryDatagram(on);
}

ErrorState FrameSource::receive()
{
    handed = false;
    if (!sdk)
        return ErrorState::NetError;
    ErrorState outcome = ErrorState::NoError;
    if (!sdk->receive())
        outcome = sdk->isDataTimeout()    ? ErrorState::Timeout
                  : sdk->isDataNetError() ? ErrorState::NetError
                                          : ErrorState::ParseError;
    // An empty datagram is read but never reaches the decoder: nothing to record.
    handed = sdk->getLastDatagram(datagram) && outcome != ErrorState::NetError;
    packet.timeUs = datagram.arrivalUs;
    packet.sourceAddress = datagram.sourceAddress;
    packet.sourcePort = datagram.sourcePort;
    packet.destinationAddress = datagram.destinationAddress;
    packet.destinationPort = sdk->getDataPort();
    packet.payload = reinterpret_cast<const uint8_t*>(datagram.bytes.data());
    packet.length = datagram.bytes.size();
    snapshot();
    copy.controllerLines = datagram.controllerLines;
    sdk->getLastParseFailure(failure);
    return outcome;
}

// Copies what the accessors hand out, so that the JSON shows exactly that.
void FrameSource::snapshot()
{
    copy.frameCounter = sdk->getFrameCounter();
    copy.timestamp = sdk->getTimestamp();
    copy.numBody = sdk->getNumBody();
    copyRecords(copy.numBody, copy.bodies, [&](int32_t i) { return sdk->getBody(i); });
    copy.numSkywand = sdk->getNumSkywand();
    copy.skywandsInFrame = 0;
    copyRecords(copy.numSkywand, copy.skywands, [&](int32_t i) {
        SkywandRecord record;
        if (sdk->getCurrentSkywand(i, record))
            copy.skywandsInFrame = i + 1;
        return record;
    });
    copy.numMeasurementTool = sdk->getNumMeasurementTool();
    copyRecords(copy.numMeasurementTool, copy.measurementTools,
                [&](int32_t i) { return sdk->getMeasurementTool(i); });
    copy.numHand = sdk->getNumHand();
    copyRecords(copy.numHand, copy.hands, [&](int32_t i) { return sdk->getHand(i); });
    copy.numMarker = sdk->getNumMarker();
    copyRecords(copy.numMarker, copy.markers, [&](int32_t i) { return sdk->getMarker(i); });
}
