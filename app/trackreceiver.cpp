#include "trackreceiver.h"

#include "trackingsdk.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QMutexLocker>

#include <algorithm>
#include <chrono>
#include <utility>
#include <vector>

TrackReceiver::TrackReceiver(TrackingSdk* sdk, QObject* parent)
    : QThread(parent), sdk(sdk), running(true), observers(std::make_shared<Observation::List>())
{
}

TrackReceiver::~TrackReceiver() = default;

void TrackReceiver::setSdk(TrackingSdk* newSdk)
{
    sdk = newSdk;
}

void TrackReceiver::setRunning(bool value)
{
    running = value;
}

void TrackReceiver::setFailurePauseUs(int microseconds)
{
    failurePauseUs = microseconds < 0 ? 0 : microseconds;
}

void TrackReceiver::setCoalescing(bool on)
{
    coalescing = on;
    dataPending = false;
    errorPending = false;
}

void TrackReceiver::dataNotificationHandled()
{
    dataPending = false;
}

void TrackReceiver::errorNotificationHandled()
{
    errorPending = false;
}

void TrackReceiver::onStop()
{
    // Taking the mutex orders the flag against the worker's check before it
    // sleeps, so a stop never misses the wake-up.
    QMutexLocker lock(&pauseMutex);
    running = false;
    pauseWake.wakeAll();
}

struct TrackReceiver::Observation::List
{
    // Held while the observers are called, so that a removal waits for a
    // call in progress.
    QMutex mutex;
    std::vector<std::pair<uint64_t, FrameObserver>> entries;
    uint64_t nextId = 1;
    std::atomic<bool> any{false};
};

TrackReceiver::Observation::Observation(std::weak_ptr<List> list, uint64_t id)
    : list(std::move(list)), id(id)
{
}

TrackReceiver::Observation::~Observation()
{
    reset();
}

TrackReceiver::Observation::Observation(Observation&& other) noexcept
    : list(std::move(other.list)), id(std::exchange(other.id, 0))
{
}

TrackReceiver::Observation& TrackReceiver::Observation::operator=(Observation&& other) noexcept
{
    if (this != &other) {
        reset();
        list = std::move(other.list);
        id = std::exchange(other.id, 0);
    }
    return *this;
}

void TrackReceiver::Observation::reset()
{
    const uint64_t mine = std::exchange(id, 0);
    const std::shared_ptr<List> owner = list.lock();
    list.reset();
    if (!owner || mine == 0)
        return;
    QMutexLocker lock(&owner->mutex);
    auto& entries = owner->entries;
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [mine](const auto& entry) { return entry.first == mine; }),
                  entries.end());
    owner->any = !entries.empty();
}

TrackReceiver::Observation TrackReceiver::addFrameObserver(FrameObserver observer)
{
    if (!observer)
        return Observation();
    QMutexLocker lock(&observers->mutex);
    const uint64_t id = observers->nextId++;
    observers->entries.emplace_back(id, std::move(observer));
    observers->any = true;
    return Observation(observers, id);
}

void TrackReceiver::run()
{
    // Without an SDK there is nothing to receive from; the owner does not
    // start the thread then, and this keeps a stray start harmless.
    if (!sdk) {
        return;
    }
    QElapsedTimer clock;
    while (running) {
        clock.start();
        // Applied on every cycle, since the owner may hand over another SDK.
        sdk->setReceiveEveryDatagram(observers->any);
        // Without coalescing a slow receiver of the signals would collect
        // one queued event per frame without end. With it, a frame decoded
        // while a notification still waits is covered by that one: the slot
        // reads the SDK after it cleared the flag, so it sees this frame or
        // a later one.
        const int64_t waitStartUs = std::chrono::duration_cast<std::chrono::microseconds>(
                                        std::chrono::system_clock::now().time_since_epoch())
                                        .count();
        const bool decoded = sdk->receive();
        if (observers->any) {
            QMutexLocker lock(&observers->mutex);
            for (const auto& entry : observers->entries) {
                entry.second(*sdk, waitStartUs);
            }
        }
        if (decoded) {
            if (!coalescing || !dataPending.exchange(true)) {
                emit sendMessageDataArrived();
            }
            // A reader of the newest frame alone needs no more than a few
            // frames per paint, and the SDK drains what waits at the next
            // receive: waking for every datagram of a 20 kHz stream cost
            // more than all the window's painting.
            if (coalescing && !observers->any) {
                pauseFor(kNewestCycleUs - clock.nsecsElapsed() / 1000);
            }
        } else {
            if (!coalescing || !errorPending.exchange(true)) {
                emit sendMessageDataError();
            }
            // Only an SDK without a socket fails at once on every cycle. A
            // network error on a working socket (an empty or oversized
            // datagram) is followed by the next receive at once, so that
            // the frames behind it are shown.
            if (!sdk->isValid()) {
                pauseFor(failurePauseUs - clock.nsecsElapsed() / 1000);
            }
        }
    }
}

void TrackReceiver::pauseFor(qint64 restUs)
{
    if (restUs <= 0) {
        return;
    }
    const QDeadlineTimer deadline(std::chrono::microseconds(restUs), Qt::PreciseTimer);
    QMutexLocker lock(&pauseMutex);
    while (running && !deadline.hasExpired()) {
        pauseWake.wait(&pauseMutex, deadline);
    }
}
