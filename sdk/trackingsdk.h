#pragma once

#include "errorstate.h"
#include "framerecords.h"
#include "parsefailure.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class CommandChannel;
struct FrameData;
struct SocketHandle;

// The datagram the last receive() read, as it arrived.
struct ReceivedDatagram
{
    uint32_t sourceAddress = 0; // host byte order
    uint16_t sourcePort = 0;
    // The address the datagram was sent to (host byte order); 0 where the
    // system does not tell it (Windows).
    uint32_t destinationAddress = 0;
    int64_t arrivalUs = 0; // wall clock, microseconds since the Unix epoch
    int32_t discarded = 0; // older datagrams the receive read and dropped for this one
    std::string bytes;     // empty for an empty datagram
    // It held at least one line of the controller's format. Random bytes or
    // another program's text decode as an empty frame; this tells them apart.
    bool controllerLines = false;
};

// Access object to the tracking controller: owns the UDP data socket, the
// receive buffer and the records of the last frame, and optionally a TCP
// command connection. receive() and the accessors may run on different
// threads: an internal mutex keeps every accessor's copy apart from a running
// decode, and is never held while receive() waits for data.
class TrackingSdk
{
public:
    static constexpr uint16_t kDefaultCommandPort = 50105;
    // The longest request the command channel sends.
    static constexpr int kMaxRequestLength = 200;
    // The receive settings of the window and the tools: the buffer holds a
    // datagram of up to 19998 bytes and its terminating NUL.
    static constexpr int32_t kDefaultDataBufferSize = 20000;
    static constexpr int32_t kDefaultDataTimeoutUs = 1000000;
    static constexpr int32_t kDefaultServerTimeoutUs = 10000000;

    // Opens the data port (0 lets the system choose) and, when serverHost is
    // not empty, connects to the controller's command port (50105 when
    // serverPort is 0). Any failure leaves the whole object invalid.
    TrackingSdk(const std::string& serverHost, uint16_t serverPort, uint16_t dataPort,
                int32_t dataBufferSize, int32_t dataTimeoutUs, int32_t serverTimeoutUs);
    ~TrackingSdk();

    TrackingSdk(const TrackingSdk&) = delete;
    TrackingSdk& operator=(const TrackingSdk&) = delete;

    bool isValid() const;
    // The data port in use; 0 when the object is invalid.
    uint16_t getDataPort() const;

    bool isDataTimeout() const;
    bool isDataNetError() const;
    bool isDataParseError() const;

    bool isCommandChannelClosed() const;
    bool isServerTimeout() const;
    bool isServerNetError() const;
    bool isServerParseError() const;

    // Waits up to the data timeout for the newest datagram and decodes it.
    // True when a frame was decoded; otherwise the data error tells why.
    bool receive();
    // Off (the default): receive() takes the newest waiting datagram and
    // drops the older ones, as a live display wants. On: it takes the oldest,
    // one per call, for a reader that must judge every frame. Safe to call
    // from any thread; the next receive() follows it.
    void setReceiveEveryDatagram(bool on);
    // Copies the datagram the last receive() read; false, with datagram
    // cleared, when it read none that fitted the buffer (a timeout, a socket
    // failure or a datagram too long).
    bool getLastDatagram(ReceivedDatagram& datagram) const;
    // Hands reader what the last receive() made of its datagram, without a
    // copy: the outcome, the frame data it decoded into (records a datagram
    // lacks are what earlier frames left) and the datagram, or null when it
    // read none that fitted the buffer. For a reader on the receiving thread
    // that must see every datagram. Runs under the lock that every accessor
    // takes, so reader must be quick, must not call this object and must
    // not throw.
    using LastReceiveReader = std::function<void(ErrorState outcome, const FrameData& frame,
                                                 const ReceivedDatagram* datagram)>;
    void readLastReceive(const LastReceiveReader& reader) const;
    // Where and why the datagram the last receive() read failed to decode;
    // false, with failure cleared, unless the last receive was a parse error.
    bool getLastParseFailure(ParseFailure& failure) const;

    uint32_t getFrameCounter() const;
    double getTimestamp() const;

    // Record accessors copy the record at index; outside 0 .. count - 1 they
    // return a zeroed record with quality -1.0 and, except for markers, id
    // set to the index asked for.
    int32_t getNumBody() const;
    BodyRecord getBody(int32_t index) const;
    int32_t getNumSkywand() const;
    SkywandRecord getSkywand(int32_t index) const;
    // Copies the record at index as getSkywand does; false when the last
    // decoded datagram held no record for it, so that the copy is what an
    // earlier frame left or the default record.
    bool getCurrentSkywand(int32_t index, SkywandRecord& record) const;
    int32_t getNumMeasurementTool() const;
    MeasurementToolRecord getMeasurementTool(int32_t index) const;
    int32_t getNumHand() const;
    HandRecord getHand(int32_t index) const;
    int32_t getNumMarker() const;
    MarkerRecord getMarker(int32_t index) const;

    // Command channel. Each call sends one request and reads one answer up
    // to its zero byte, within the server timeout for the send and again for
    // the whole answer; false on failure, with serverError and the
    // controller's error code and text telling why.
    bool sendCommand(const std::string& command);
    bool setParam(const std::string& category, const std::string& name, const std::string& value);
    bool setParam(const std::string& parameter);
    bool getParam(const std::string& category, const std::string& name, std::string& value);
    bool getParam(const std::string& parameter, std::string& value);
    // Fetches one queued controller message into the message fields; false
    // when none is pending ("kestrel ok", no error), the controller refused,
    // the exchange failed, or the answer was no message (ParseError).
    bool getMessage();
    // False when the last answer carried no error (code 0).
    bool getLastServerErrorCode(int32_t& code) const;
    bool getLastServerErrorText(std::string& text) const;
    std::string getMessageWord1() const;
    std::string getMessageWord2() const;
    uint32_t getMessageNumber1() const;
    uint32_t getMessageNumber2() const;
    std::string getMessageText() const;

private:
    void setDataError(ErrorState state);
    const FrameData& frameData() const;
    void closeAll();

    // The command connection with its error state, last error and message
    // fields; closed unless a controller host was given.
    std::unique_ptr<CommandChannel> channel;
    SocketHandle* dataSocket = nullptr;
    uint16_t dataPort = 0;
    int32_t dataTimeoutUs = 0;
    int32_t dataBufferSize = 0;
    char* dataBuffer = nullptr;
    // frameCounter, timestamp, the five counts and the record arrays.
    std::unique_ptr<FrameData> frame;
    bool haveDatagram = false;
    std::atomic<bool> everyDatagram{false};
    ReceivedDatagram lastDatagram;
    ErrorState dataError = ErrorState::NoError;
    // Guards frame, dataError and the last datagram between receive() and
    // the accessors.
    mutable std::mutex frameMutex;
};
