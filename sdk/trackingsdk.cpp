#include "trackingsdk.h"

#include "sockets.h"

#include <new>

namespace {

template <typename Record>
Record outOfRange(int32_t id)
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
    : serverTimeoutUs(serverTimeoutUs), dataPort(dataPort), dataTimeoutUs(dataTimeoutUs)
{
    if (udpOpen(&dataSocket, &this->dataPort) != 0) {
        dataSocket = nullptr;
        this->dataPort = 0;
        return;
    }
    // A buffer below two bytes could not hold a byte of data and its NUL.
    if (dataBufferSize >= 2)
        dataBuffer = new (std::nothrow) char[static_cast<size_t>(dataBufferSize)];
    if (!dataBuffer) {
        closeAll();
        return;
    }
    this->dataBufferSize = dataBufferSize;

    if (!serverHost.empty()) {
        const uint32_t address = resolve(serverHost.c_str());
        const uint16_t port = serverPort != 0 ? serverPort : kDefaultCommandPort;
        if (address == 0 || tcpConnect(&commandSocket, address, port) != 0) {
            commandSocket = nullptr;
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
    tcpClose(commandSocket);
    commandSocket = nullptr;
}

bool TrackingSdk::isValid() const { return dataSocket != nullptr; }
uint16_t TrackingSdk::getDataPort() const { return dataPort; }

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

bool TrackingSdk::isCommandChannelClosed() const { return commandSocket == nullptr; }
bool TrackingSdk::isServerTimeout() const { return serverError == ErrorState::Timeout; }
bool TrackingSdk::isServerNetError() const { return serverError == ErrorState::NetError; }
bool TrackingSdk::isServerParseError() const { return serverError == ErrorState::ParseError; }

void TrackingSdk::setDataError(ErrorState state) { dataError = state; }
void TrackingSdk::setServerError(ErrorState state) { serverError = state; }

bool TrackingSdk::receive()
{
    if (!isValid()) {
        std::lock_guard<std::mutex> lock(frameMutex);
        setDataError(ErrorState::NetError);
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(frameMutex);
        frame.beginFrame();
    }

    // The wait runs without the lock, so accessors never block on it. The
    // buffer belongs to this thread alone.
    const int n = udpReceive(dataSocket, dataBuffer, dataBufferSize - 1, dataTimeoutUs);

    std::lock_guard<std::mutex> lock(frameMutex);
    if (n == -1) {
        setDataError(ErrorState::Timeout);
        return false;
    }
    if (n < 1) {
        setDataError(ErrorState::NetError);
        return false;
    }
    dataBuffer[n] = '\0';
    setDataError(ErrorState::ParseError);
    if (!decodeFrame(frame, dataBuffer, static_cast<size_t>(n)))
        return false;
    setDataError(ErrorState::NoError);
    return true;
}

uint32_t TrackingSdk::getFrameCounter() const
{
    std::lock_guard<std::mutex> lock(frameMutex);
    return frame.frameCounter;
}

double TrackingSdk::getTimestamp() const
{
    std::lock_guard<std::mutex> lock(frameMutex);
    return frame.timestamp;
}

int32_t TrackingSdk::getNumBody() const
{
    std::lock_guard<std::mutex> lock(frameMutex);
    return frame.numBody;
}

BodyRecord TrackingSdk::getBody(int32_t index) const
{
    std::lock_guard<std::mutex> lock(frameMutex);
    return copyAt(frame.bodies, frame.numBody, index);
}

int32_t TrackingSdk::getNumSkywand() const
{
    std::lock_guard<std::mutex> lock(frameMutex);
    return frame.numSkywand;
}

SkywandRecord TrackingSdk::getSkywand(int32_t index) const
{
    std::lock_guard<std::mutex> lock(frameMutex);
    return copyAt(frame.skywands, frame.numSkywand, index);
}

bool TrackingSdk::getCurrentSkywand(int32_t index, SkywandRecord& record) const
{
    std::lock_guard<std::mutex> lock(frameMutex);
    record = copyAt(frame.skywands, frame.numSkywand, index);
    return index >= 0 && index < frame.skywandsInFrame && index < frame.numSkywand;
}

int32_t TrackingSdk::getNumMeasurementTool() const
{
    std::lock_guard<std::mutex> lock(frameMutex);
    return frame.numMeasurementTool;
}

MeasurementToolRecord TrackingSdk::getMeasurementTool(int32_t index) const
{
    std::lock_guard<std::mutex> lock(frameMutex);
    return copyAt(frame.measurementTools, frame.numMeasurementTool, index);
}

int32_t TrackingSdk::getNumHand() const
{
    std::lock_guard<std::mutex> lock(frameMutex);
    return frame.numHand;
}

HandRecord TrackingSdk::getHand(int32_t index) const
{
    std::lock_guard<std::mutex> lock(frameMutex);
    return copyAt(frame.hands, frame.numHand, index);
}

int32_t TrackingSdk::getNumMarker() const
{
    std::lock_guard<std::mutex> lock(frameMutex);
    return frame.numMarker;
}

MarkerRecord TrackingSdk::getMarker(int32_t index) const
{
    std::lock_guard<std::mutex> lock(frameMutex);
    // Marker ids are the controller's, not positions: the default keeps id 0.
    if (index < 0 || index >= frame.numMarker)
        return outOfRange<MarkerRecord>(0);
    return frame.markers[static_cast<size_t>(index)];
}
