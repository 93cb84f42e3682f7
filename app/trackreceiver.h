#pragma once

#include <QMutex>
#include <QThread>
#include <QWaitCondition>

#include <atomic>

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

    TrackReceiver(TrackingSdk* sdk, QObject* parent);
    ~TrackReceiver() override;

    void setSdk(TrackingSdk* sdk);
    void setRunning(bool value);

    // After a receive that failed with a network error faster than this, the
    // loop waits for the rest of it, so an SDK whose port did not open
    // reports once per pause instead of flooding the GUI thread. The window
    // passes the SDK's data timeout.
    void setFailurePauseUs(int microseconds);

signals:
    void sendMessageDataArrived();
    void sendMessageDataError();

public slots:
    void onStop();

protected:
    void run() override;

private:
    void pauseAfterFailure(qint64 elapsedUs);

    TrackingSdk* sdk;
    std::atomic<bool> running;
    std::atomic<int> failurePauseUs{kDefaultFailurePauseUs};
    QMutex pauseMutex;
    QWaitCondition pauseWake;
};
