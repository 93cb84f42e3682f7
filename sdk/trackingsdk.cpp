#include "trackingsdk.h"

#include "commandchannel.h"
#include "framedecoder.h"
#include "sockets.h"

#include <chrono>
#include <new>

static_assert(TrackingSdk::kMaxRequestLength == CommandChannel::kMaxRequestLength,
              "the request limit users see is the channel's");

namespace {

template <typename Record> Record outOfRange(int32_t id)
{
    Record r{};
    r.id = id;
    r.quality = -1.0f;
    return r;
}

template <typename Record>
Record copyAt(const std::vector<Record>& records, int32_t count, int32_t index)
{
    if (index < 0 || index >= count)
        return outOfRange<Record>(index);
    return records[static_cast<size_t>(index)];
}

} // namespace

TrackingSdk::TrackingSdk(const std::string& serverHost, uint16_t serverPort, uint16_t dataPort,
                         int32_t dataBufferSize, int32_t dataTimeoutUs, int32_t serverTimeoutUs)
    : channel(new (std::nothrow) CommandChannel(serverTimeoutUs)), dataPort(dataPort),
      dataTimeoutUs(dataTimeoutUs), frame(new (std::nothrow) FrameData)
{
    if (!channel || !frame || udpOpen(&dataSocket, &this->dataPort) != SocketResult::kOk) {
        dataSocket = nullptr;
        this->dataPort = 0;
        return;
    }
#ifndef _WIN32
    // The system may grant less; the default still works, with less room.
    // Not on Windows: there the newest datagram is found by one recvfrom per
    // waiting datagram, and a deeper queue behind a sender that never pauses
    // keeps one receive draining far past its data timeout.
    udpSetReceiveBuffer(dataSocket, kUdpStreamReceiveBuffer);
#endif
    // A buffer below two bytes could not hold a byte of data and its NUL.
    if (dataBufferSize >= 2)
        dataBuffer = new (std::nothrow) char[static_cast<size_t>(dataBufferSize)];
    if (!dataBuffer) {
        closeAll();
        return;
    }
    this->dataBufferSize = dataBufferSize;
    // Room for every datagram up front, so that receive() never allocates.
    try {
        lastDatagram.bytes.reserve(static_cast<size_t>(dataBufferSize));
    } catch (...) {
        closeAll();
        return;
    }

    if (!serverHost.empty()) {
        const uint16_t port = serverPort != 0 ? serverPort : kDefaultCommandPort;
        if (!channel->open(serverHost, port)) {
            closeAll();
            return;
        }
    }
}

TrackingSdk::~TrackingSdk()
{
    closeAll();
}

void TrackingSdk::closeAll()
{
    delete[] dataBuffer;
    dataBuffer = nullptr;
    dataBufferSize = 0;
    udpClose(dataSocket);
    dataSocket = nullptr;
    dataPort = 0;
    if (channel)
        channel->close();
}

bool TrackingSdk::isValid() const
{
    return dataSocket != nullptr;
}
uint16_t TrackingSdk::getDataPort() const
{
    return dataPort;
}

bool TrackingSdk::isDataTimeout() const
{
    std::lock_guard<std::mutex> lock(frameMutex);
    return dataError == ErrorState::Timeout;
}

bool TrackingSdk::isDataNetError() const
{
    std::lock_guard<std::mutex> lock(frameMutex);
    return dataError == ErrorState::NetError;
}

bool TrackingSdk::isDataParseError() const
{
    std::lock_guard<std::mutex> lock(frameMutex);
    return dataError == ErrorState::ParseError;
}

void TrackingSdk::setDataError(ErrorState state)
{
    dataError = state;
}

const FrameData& TrackingSdk::frameData() const
{
    // Only an object whose frame data could not be allocated has none; it is
    // invalid and hands out what an empty frame holds.
    static const FrameData empty;
    return frame ? *frame : empty;
}

void TrackingSdk::setReceiveEveryDatagram(bool on)
{
    everyDatagram = on;
}

bool TrackingSdk::receive()
{
    if (!isValid()) {
        std::lock_guard<std::mutex> lock(frameMutex);
        setDataError(ErrorState::NetError);
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(frameMutex);
        frame->beginFrame();
    }

    // The wait runs without the lock, so accessors never block on it. The
    // buffer belongs to this thread alone.
    DatagramOrigin origin;
    const int n =
        everyDatagram
            ? udpReceiveNext(dataSocket, dataBuffer, dataBufferSize - 1, dataTimeoutUs, origin)
            : udpReceiveFrom(dataSocket, dataBuffer, dataBufferSize - 1, dataTimeoutUs, origin);
    const auto arrival = std::chrono::system_clock::now().time_since_epoch();

    std::lock_guard<std::mutex> lock(frameMutex);
    haveDatagram = n >= 0;
    if (n == SocketResult::kTimeout) {
        setDataError(ErrorState::Timeout);
        return false;
    }
    if (n < 0) {
        setDataError(ErrorState::NetError);
        return false;
    }
    lastDatagram.sourceAddress = origin.address;
    lastDatagram.sourcePort = origin.port;
    lastDatagram.destinationAddress = origin.destination;
    lastDatagram.arrivalUs =
        origin.arrivalUs != 0
            ? origin.arrivalUs
            : std::chrono::duration_cast<std::chrono::microseconds>(arrival).count();
    lastDatagram.discarded = origin.discarded;
    lastDatagram.bytes.assign(dataBuffer, static_cast<size_t>(n));
    dataBuffer[n] = '\0';
    setDataError(decodeDatagram(*frame, dataBuffer, static_cast<size_t>(n), dataBufferSize));
    lastDatagram.controllerLines = frame->controllerLines;
    return dataError == ErrorState::NoError;
}

bool TrackingSdk::getLastDatagram(ReceivedDatagram& datagram) const
{
    std::lock_guard<std::mutex> lock(frameMutex);
    if (!haveDatagram) {
        datagram = ReceivedDatagram();
        return false;
    }
    datagram = lastDatagram;
    return true;
}

void TrackingSdk::readLastReceive(const LastReceiveReader& reader) const
{
    std::lock_guard<std::mutex> lock(frameMutex);
    reader(dataError, frameData(), haveDatagram ? &lastDatagram : nullptr);
}

bool TrackingSdk::getLastParseFailure(ParseFailure& failure) const
{
    std::lock_guard<std::mutex> lock(frameMutex);
    failure = ParseFailure();
    if (dataError != ErrorState::ParseError || !frame || !haveDatagram)
        return false;
    // Put into words only here: the receive merely noted where it stopped.
    try {
        failure = describeDecodeFailure(frame->failure, lastDatagram.bytes.data(),
                                        lastDatagram.bytes.size());
    } catch (...) {
        failure = ParseFailure();
    }
    return failure.line > 0;
}

uint32_t TrackingSdk::getFrameCounter() const
{
    std::lock_guard<std::mutex> lock(frameMutex);
    const FrameData& f = frameData();
    return f.frameCounter;
}

double TrackingSdk::getTimestamp() const
{
    std::lock_guard<std::mutex> lock(frameMutex);
    const FrameData& f = frameData();
    return f.timestamp;
}

int32_t TrackingSdk::getNumBody() const
{
    std::lock_guard<std::mutex> lock(frameMutex);
    const FrameData& f = frameData();
    return f.numBody;
}

BodyRecord TrackingSdk::getBody(int32_t index) const
{
    std::lock_guard<std::mutex> lock(frameMutex);
    const FrameData& f = frameData();
    return copyAt(f.bodies, f.numBody, index);
}

int32_t TrackingSdk::getNumSkywand() const
{
    std::lock_guard<std::mutex> lock(frameMutex);
    const FrameData& f = frameData();
    return f.numSkywand;
}

SkywandRecord TrackingSdk::getSkywand(int32_t index) const
{
    std::lock_guard<std::mutex> lock(frameMutex);
    const FrameData& f = frameData();
    return copyAt(f.skywands, f.numSkywand, index);
}

bool TrackingSdk::getCurrentSkywand(int32_t index, SkywandRecord& record) const
{
    std::lock_guard<std::mutex> lock(frameMutex);
    const FrameData& f = frameData();
    record = copyAt(f.skywands, f.numSkywand, index);
    return index >= 0 && index < f.skywandsInFrame && index < f.numSkywand;
}

int32_t TrackingSdk::getNumMeasurementTool() const
{
    std::lock_guard<std::mutex> lock(frameMutex);
    const FrameData& f = frameData();
    return f.numMeasurementTool;
}

MeasurementToolRecord TrackingSdk::getMeasurementTool(int32_t index) const
{
    std::lock_guard<std::mutex> lock(frameMutex);
    const FrameData& f = frameData();
    return copyAt(f.measurementTools, f.numMeasurementTool, index);
}

int32_t TrackingSdk::getNumHand() const
{
    std::lock_guard<std::mutex> lock(frameMutex);
    const FrameData& f = frameData();
    return f.numHand;
}

HandRecord TrackingSdk::getHand(int32_t index) const
{
    std::lock_guard<std::mutex> lock(frameMutex);
    const FrameData& f = frameData();
    return copyAt(f.hands, f.numHand, index);
}

int32_t TrackingSdk::getNumMarker() const
{
    std::lock_guard<std::mutex> lock(frameMutex);
    const FrameData& f = frameData();
    return f.numMarker;
}

MarkerRecord TrackingSdk::getMarker(int32_t index) const
{
    std::lock_guard<std::mutex> lock(frameMutex);
    const FrameData& f = frameData();
    // Marker ids are the controller's, not positions: the default keeps id 0.
    if (index < 0 || index >= f.numMarker)
        return outOfRange<MarkerRecord>(0);
    return f.markers[static_cast<size_t>(index)];
}

bool TrackingSdk::isCommandChannelClosed() const
{
    return !channel || channel->isClosed();
}

// Without a channel (its allocation failed) the object is invalid and every
// command fails without an error state of its own.
bool TrackingSdk::isServerTimeout() const
{
    return channel && channel->serverError() == ErrorState::Timeout;
}

bool TrackingSdk::isServerNetError() const
{
    return channel && channel->serverError() == ErrorState::NetError;
}

bool TrackingSdk::isServerParseError() const
{
    return channel && channel->serverError() == ErrorState::ParseError;
}

bool TrackingSdk::sendCommand(const std::string& command)
{
    return channel && channel->sendCommand(command);
}

bool TrackingSdk::setParam(const std::string& category, const std::string& name,
                           const std::string& value)
{
    return channel && channel->setParam(category, name, value);
}

bool TrackingSdk::setParam(const std::string& parameter)
{
    return channel && channel->setParam(parameter);
}

bool TrackingSdk::getParam(const std::string& category, const std::string& name, std::string& value)
{
    value.clear();
    return channel && channel->getParam(category, name, value);
}

bool TrackingSdk::getParam(const std::string& parameter, std::string& value)
{
    value.clear();
    return channel && channel->getParam(parameter, value);
}

bool TrackingSdk::getMessage()
{
    return channel && channel->getMessage();
}

bool TrackingSdk::getLastServerErrorCode(int32_t& code) const
{
    return channel && channel->getLastServerErrorCode(code);
}

bool TrackingSdk::getLastServerErrorText(std::string& text) const
{
    return channel && channel->getLastServerErrorText(text);
}

std::string TrackingSdk::getMessageWord1() const
{
    return channel ? channel->getMessageWord1() : std::string();
}

std::string TrackingSdk::getMessageWord2() const
{
    return channel ? channel->getMessageWord2() : std::string();
}

uint32_t TrackingSdk::getMessageNumber1() const
{
    return channel ? channel->getMessageNumber1() : 0;
}

uint32_t TrackingSdk::getMessageNumber2() const
{
    return channel ? channel->getMessageNumber2() : 0;
}

std::string TrackingSdk::getMessageText() const
{
    return channel ? channel->getMessageText() : std::string();
}
