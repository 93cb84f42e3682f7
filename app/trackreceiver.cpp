#include "trackreceiver.h"

#include "trackingsdk.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QMutexLocker>

TrackReceiver::TrackReceiver(TrackingSdk* sdk, QObject* parent)
    : QThread(parent), sdk(sdk), running(true)
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

void TrackReceiver::onStop()
{
    // Taking the mutex orders the flag against the worker's check before it
    // sleeps, so a stop never misses the wake-up.
    QMutexLocker lock(&pauseMutex);
    running = false;
    pauseWake.wakeAll();
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
        if (sdk->receive()) {
            emit sendMessageDataArrived();
        } else {
            emit sendMessageDataError();
            if (sdk->isDataNetError()) {
                pauseAfterFailure(clock.nsecsElapsed() / 1000);
            }
        }
    }
}

void TrackReceiver::pauseAfterFailure(qint64 elapsedUs)
{
    const qint64 restUs = failurePauseUs - elapsedUs;
    if (restUs <= 0) {
        return;
    }
    QDeadlineTimer deadline(restUs / 1000 + 1);
    QMutexLocker lock(&pauseMutex);
    while (running && !deadline.hasExpired()) {
        pauseWake.wait(&pauseMutex, deadline);
    }
}
