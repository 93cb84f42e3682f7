#pragma once

#include <QMutex>
#include <QThread>
#include <QWaitCondition>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class TrackingSdk;

// Worker thread that calls the SDK's receive() in a loop and announces every
// outcome by a signal without arguments; the window then reads the SDK itself.
// The SDK is not owned. setSdk() may only be called while the thread is not
// running, and the owner waits for the thread before it deletes the SDK.
class TrackReceiver : public QThread
{
    Q_OBJECT

public:
    static constexpr int kDefaultFailurePauseUs = 1000000;
    // With coalescing on and no frame observer, a cycle that decoded a frame
    // lasts at least this long: 250 receives a second, four for each paint
    // of a 60 Hz panel, however fast the stream.
    static constexpr int kNewestCycleUs = 4000;

    TrackReceiver(TrackingSdk* sdk, QObject* parent);
    ~TrackReceiver() override;

    void setSdk(TrackingSdk* sdk);
    void setRunning(bool value);

    // On an SDK whose port did not open, every receive fails at once; the
    // loop then waits for the rest of this time after each cycle, so that it
    // reports once per pause instead of flooding the GUI thread. The window
    // passes the SDK's data timeout.
    void setFailurePauseUs(int microseconds);

    // With coalescing on, a signal is emitted only when the previous signal
    // of the same kind has been handled, so at most one of each kind waits
    // in the receiving thread's event queue however fast frames arrive. The
    // slot calls the matching ...Handled() first and then reads the SDK,
    // which always holds the newest outcome. A slot that keeps up still gets
    // one signal per cycle. Off by default: one signal per cycle regardless.
    void setCoalescing(bool on);
    void dataNotificationHandled();
    void errorNotificationHandled();

    // Frame observers are called on this thread after every receive on an
    // open port, in the order they were added, before the signal: for
    // readers that must see every datagram rather than the newest. The SDK
    // then holds the datagram read (also one that did not decode) or tells a
    // timeout, and waitStartUs is the wall clock (microseconds since the Unix
    // epoch) when that receive began to wait, so that after a timeout nothing
    // arrived between it and the next datagram. An observer must be quick,
    // must not throw and must not add or remove observers. While any is
    // registered, the SDK hands over every datagram in turn instead of only
    // the newest.
    using FrameObserver = std::function<void(const TrackingSdk&, int64_t waitStartUs)>;

    // Keeps one observer registered until it is destroyed or reset; may
    // outlive the receiver. Removal may happen while the thread runs: it
    // waits for a call in progress, and once it returns the observer is
    // never called again.
    class Observation
    {
    public:
        Observation() = default;
        ~Observation();
        Observation(Observation&& other) noexcept;
        Observation& operator=(Observation&& other) noexcept;
        Observation(const Observation&) = delete;
        Observation& operator=(const Observation&) = delete;

        void reset();
        explicit operator bool() const { return id != 0; }

    private:
        friend class TrackReceiver;
        struct List;
        Observation(std::weak_ptr<List> list, uint64_t id);

        std::weak_ptr<List> list;
        uint64_t id = 0;
    };
    // May be called from any thread, also while the thread runs. An empty
    // function registers nothing and gives an empty observation.
    [[nodiscard]] Observation addFrameObserver(FrameObserver observer);

signals:
    void sendMessageDataArrived();
    void sendMessageDataError();

public slots:
    void onStop();

protected:
    void run() override;

private:
    // Waits up to restUs, or until stopped.
    void pauseFor(qint64 restUs);

    TrackingSdk* sdk;
    std::atomic<bool> running;
    std::atomic<int> failurePauseUs{kDefaultFailurePauseUs};
    std::atomic<bool> coalescing{false};
    std::atomic<bool> dataPending{false};
    std::atomic<bool> errorPending{false};
    // Shared with the observations, so that one outliving the receiver
    // still removes itself safely.
    std::shared_ptr<Observation::List> observers;
    QMutex pauseMutex;
    QWaitCondition pauseWake;
};
