#include "framedecoder.h"
#include "frameinbox.h"
#include "framesender.h"
#include "trackingsdk.h"
#include "trackreceiver.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using namespace framesender;

namespace {

constexpr int kBufferSize = 20000;

std::unique_ptr<TrackingSdk> makeSdk(uint16_t port, int timeoutUs)
{
    return std::make_unique<TrackingSdk>(std::string(), 0, port, kBufferSize, timeoutUs, 10000000);
}

// Counts the signals in the emitting thread, so a count is exact the moment
// wait() has returned, with no event delivery in between.
struct SignalCounter
{
    explicit SignalCounter(TrackReceiver& receiver)
    {
        QObject::connect(
            &receiver, &TrackReceiver::sendMessageDataArrived, &receiver, [this] { ++arrived; },
            Qt::DirectConnection);
        QObject::connect(
            &receiver, &TrackReceiver::sendMessageDataError, &receiver, [this] { ++errors; },
            Qt::DirectConnection);
    }
    std::atomic<int> arrived{0};
    std::atomic<int> errors{0};
};

void stopAndWait(TrackReceiver& receiver)
{
    receiver.onStop();
    receiver.quit();
    QVERIFY(receiver.wait(QDeadlineTimer(10000)));
}

} // namespace

class TestTrackReceiver : public QObject
{
    Q_OBJECT

private slots:
    void oneArrivedSignalPerDatagram();
    void oneErrorSignalPerSilentTimeout();
    void stopWhileReceiveBlocks();
    void restartOnNewSdk();
    void startWithoutRunFlagEmitsNothing();
    void portNotOpenIsPacedAndStoppable();
    void networkErrorOnAnOpenPortIsNotPaced_data();
    void networkErrorOnAnOpenPortIsNotPaced();
    void coalescedWhileTheConsumerLags();
    void coalescedButOnePerFrameWhileTheConsumerKeepsUp();
    void observersSeeEveryDatagramUntilRemoved();
    void inboxHoldsWhatTheCheckDecodes();
};

void TestTrackReceiver::oneArrivedSignalPerDatagram()
{
    auto sdk = makeSdk(0, 2000000);
    QVERIFY(sdk->isValid());
    TrackReceiver receiver(sdk.get(), nullptr);
    SignalCounter count(receiver);
    receiver.start();

    // Each datagram goes out only after the previous one was announced, so
    // none is dropped as stale and each must give exactly one signal.
    constexpr int kFrames = 20;
    for (int i = 1; i <= kFrames; ++i) {
        QVERIFY(sendTo(sdk->getDataPort(), frame6df2({Wand{}}, i)));
        QTRY_COMPARE_WITH_TIMEOUT(count.arrived.load(), i, 2000);
    }
    stopAndWait(receiver);
    // The cycle in progress at the stop ends by its 2 s timeout.
    QCOMPARE(count.arrived.load(), kFrames);
    QCOMPARE(count.errors.load(), 1);
    QVERIFY(sdk->isDataTimeout());
}

void TestTrackReceiver::oneErrorSignalPerSilentTimeout()
{
    constexpr int kTimeoutMs = 100;
    auto sdk = makeSdk(0, kTimeoutMs * 1000);
    TrackReceiver receiver(sdk.get(), nullptr);
    SignalCounter count(receiver);
    QElapsedTimer clock;
    clock.start();
    receiver.start();
    QTRY_VERIFY_WITH_TIMEOUT(count.errors.load() >= 5, 5000);
    const qint64 elapsed = clock.elapsed();
    const int errors = count.errors.load();
    stopAndWait(receiver);
    // Every error took one full timeout: no burst, no missed timeout.
    QVERIFY2(elapsed >= (errors - 1) * kTimeoutMs, qPrintable(QString::number(elapsed)));
    QVERIFY2(elapsed < (errors + 2) * kTimeoutMs, qPrintable(QString::number(elapsed)));
    QCOMPARE(count.arrived.load(), 0);
    QVERIFY(sdk->isDataTimeout());
}

void TestTrackReceiver::stopWhileReceiveBlocks()
{
    constexpr int kTimeoutMs = 700;
    auto sdk = makeSdk(0, kTimeoutMs * 1000);
    TrackReceiver receiver(sdk.get(), nullptr);
    SignalCounter count(receiver);
    receiver.start();
    // Right after the first timeout the next receive is blocking for a
    // whole timeout again; stop then.
    QTRY_COMPARE_WITH_TIMEOUT(count.errors.load(), 1, 5000);
    QElapsedTimer clock;
    clock.start();
    receiver.onStop();
    receiver.quit();
    QVERIFY(receiver.wait(QDeadlineTimer(kTimeoutMs + 1000)));
    QVERIFY(clock.elapsed() <= kTimeoutMs + 200);
    QCOMPARE(count.errors.load(), 2);
    QCOMPARE(count.arrived.load(), 0);
    QVERIFY(receiver.isFinished());
}

void TestTrackReceiver::restartOnNewSdk()
{
    auto first = makeSdk(0, 100000);
    TrackReceiver receiver(first.get(), nullptr);
    SignalCounter count(receiver);
    receiver.start();
    QVERIFY(sendTo(first->getDataPort(), frame6df2({Wand{}})));
    QTRY_COMPARE_WITH_TIMEOUT(count.arrived.load(), 1, 2000);
    stopAndWait(receiver);

    first.reset();
    auto second = makeSdk(0, 100000);
    receiver.setSdk(second.get());
    receiver.setRunning(true);
    receiver.start();
    QVERIFY(sendTo(second->getDataPort(), frame6df2({Wand{}, Wand{}})));
    QTRY_COMPARE_WITH_TIMEOUT(count.arrived.load(), 2, 2000);
    QCOMPARE(second->getNumSkywand(), 2);
    stopAndWait(receiver);
}

void TestTrackReceiver::startWithoutRunFlagEmitsNothing()
{
    auto sdk = makeSdk(0, 100000);
    TrackReceiver receiver(sdk.get(), nullptr);
    SignalCounter count(receiver);
    receiver.onStop();
    QElapsedTimer clock;
    clock.start();
    receiver.start();
    QVERIFY(receiver.wait(QDeadlineTimer(2000)));
    QVERIFY(clock.elapsed() < 100); // no receive was waited for
    QCOMPARE(count.arrived.load() + count.errors.load(), 0);
}

void TestTrackReceiver::portNotOpenIsPacedAndStoppable()
{
    // Another socket holds the port, so the SDK is invalid and every
    // receive fails at once.
    QUdpSocket holder;
    QVERIFY(holder.bind(QHostAddress::AnyIPv4, 0));
    auto sdk = makeSdk(holder.localPort(), 150000);
    QVERIFY(!sdk->isValid());

    TrackReceiver receiver(sdk.get(), nullptr);
    receiver.setFailurePauseUs(150000);
    SignalCounter count(receiver);
    QElapsedTimer clock;
    clock.start();
    receiver.start();
    QTRY_VERIFY_WITH_TIMEOUT(count.errors.load() >= 3, 3000);
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= 250, qPrintable(QString::number(elapsed)));
    stopAndWait(receiver);
    QVERIFY(sdk->isDataNetError());

    // A long pause ends as soon as the receiver is stopped.
    receiver.setFailurePauseUs(30000000);
    receiver.setRunning(true);
    const int before = count.errors.load();
    receiver.start();
    QTRY_COMPARE_WITH_TIMEOUT(count.errors.load(), before + 1, 2000);
    clock.restart();
    stopAndWait(receiver);
    QVERIFY(clock.elapsed() < 1000);
    QCOMPARE(count.errors.load(), before + 1);
}

void TestTrackReceiver::networkErrorOnAnOpenPortIsNotPaced_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("longer than the buffer") << QByteArray(kBufferSize, 'x');
}

void TestTrackReceiver::networkErrorOnAnOpenPortIsNotPaced()
{
    QFETCH(QByteArray, datagram);
    auto sdk = makeSdk(0, 2000000);
    TrackReceiver receiver(sdk.get(), nullptr);
    receiver.setFailurePauseUs(30000000);
    SignalCounter count(receiver);
    receiver.start();
    QVERIFY(sendTo(sdk->getDataPort(), datagram));
    QTRY_COMPARE_WITH_TIMEOUT(count.errors.load(), 1, 2000);
    QVERIFY(sdk->isDataNetError());
    // The frame right behind it is announced at once, not after the pause.
    QVERIFY(sendTo(sdk->getDataPort(), frame6df2({Wand{}})));
    QTRY_COMPARE_WITH_TIMEOUT(count.arrived.load(), 1, 2000);
    stopAndWait(receiver);
}

namespace {

// Plays the window's part with coalescing on: in this thread, clears the
// flag first, then reads the newest frame from the SDK.
struct Consumer
{
    Consumer(TrackReceiver& receiver, TrackingSdk& sdk, QObject& context)
    {
        receiver.setCoalescing(true);
        QObject::connect(&receiver, &TrackReceiver::sendMessageDataArrived, &context, [&, this] {
            receiver.dataNotificationHandled();
            ++updates;
            shownX = sdk.getSkywand(0).joystickValue[0];
        });
    }
    int updates = 0;
    float shownX = 0.0f;
};

// Frame i carries x = i / 1000, which stays in the records after the next
// receive has begun; this waits for it without running the event loop.
bool decoded(TrackingSdk& sdk, int i)
{
    QElapsedTimer clock;
    clock.start();
    while (sdk.getSkywand(0).joystickValue[0] != static_cast<float>(i / 1000.0)) {
        if (clock.elapsed() > 2000)
            return false;
        QThread::yieldCurrentThread();
    }
    return true;
}

} // namespace

void TestTrackReceiver::coalescedWhileTheConsumerLags()
{
    auto sdk = makeSdk(0, 2000000);
    TrackReceiver receiver(sdk.get(), nullptr);
    QObject context;
    Consumer consumer(receiver, *sdk, context);
    receiver.start();

    // This thread handles no events while 50 frames are decoded: a lagging
    // window. Without coalescing 50 notifications would wait now.
    constexpr int kFrames = 50;
    for (int i = 1; i <= kFrames; ++i) {
        Wand w;
        w.x = i / 1000.0;
        QVERIFY(sendTo(sdk->getDataPort(), frame6df2({w}, i)));
        QVERIFY2(decoded(*sdk, i), qPrintable(QString::number(i)));
    }
    QCoreApplication::processEvents();
    QCOMPARE(consumer.updates, 1);
    QCOMPARE(consumer.shownX, static_cast<float>(kFrames / 1000.0)); // the newest frame

    // The next frame is announced again.
    Wand w;
    w.x = 0.5;
    QVERIFY(sendTo(sdk->getDataPort(), frame6df2({w}, kFrames + 1)));
    QTRY_COMPARE_WITH_TIMEOUT(consumer.updates, 2, 2000);
    QCOMPARE(consumer.shownX, 0.5f);
    stopAndWait(receiver);
}

void TestTrackReceiver::coalescedButOnePerFrameWhileTheConsumerKeepsUp()
{
    auto sdk = makeSdk(0, 2000000);
    TrackReceiver receiver(sdk.get(), nullptr);
    QObject context;
    Consumer consumer(receiver, *sdk, context);
    receiver.start();

    constexpr int kFrames = 30;
    for (int i = 1; i <= kFrames; ++i) {
        Wand w;
        w.x = i / 1000.0;
        QVERIFY(sendTo(sdk->getDataPort(), frame6df2({w}, i)));
        QTRY_COMPARE_WITH_TIMEOUT(consumer.updates, i, 2000);
        QCOMPARE(consumer.shownX, static_cast<float>(i / 1000.0));
    }
    stopAndWait(receiver);
    QCoreApplication::processEvents();
    QCOMPARE(consumer.updates, kFrames);
}

namespace {

// The frame counters one observer saw, and whether it was called after its
// removal had returned.
struct Seen
{
    TrackReceiver::FrameObserver observer()
    {
        return [this](const TrackingSdk& source, int64_t) {
            if (removed)
                ++afterRemoval;
            if (source.isDataTimeout())
                return;
            std::lock_guard<std::mutex> lock(mutex);
            counters.push_back(source.getFrameCounter());
        };
    }
    size_t count()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return counters.size();
    }
    std::vector<uint32_t> copy()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return counters;
    }
    std::mutex mutex;
    std::vector<uint32_t> counters;
    std::atomic<bool> removed{false};
    std::atomic<int> afterRemoval{0};
};

std::vector<uint32_t> range(uint32_t first, uint32_t last)
{
    std::vector<uint32_t> out;
    for (uint32_t i = first; i <= last; ++i)
        out.push_back(i);
    return out;
}

} // namespace

// Two observers, the second added and removed while frames stream in: each
// sees every datagram from its registration on, in order, the first all of
// them, and the removed one is never called once its removal returned.
void TestTrackReceiver::observersSeeEveryDatagramUntilRemoved()
{
    auto sdk = makeSdk(0, 2000000);
    TrackReceiver receiver(sdk.get(), nullptr);
    // On the heap: ThreadSanitizer cannot see that the previous test's
    // receiver thread, which read this stack, has ended (see tsan.supp).
    const auto seen = std::make_unique<Seen[]>(2);
    Seen& first = seen[0];
    Seen& second = seen[1];
    TrackReceiver::Observation keep = receiver.addFrameObserver(first.observer());
    auto observation = std::make_unique<TrackReceiver::Observation>();
    receiver.start();
    const auto stop = qScopeGuard([&] { stopAndWait(receiver); });

    // Sent back to back from another thread, at most 32 ahead of the
    // receiver so that the socket's buffer never overflows.
    constexpr uint32_t kFrames = 1500;
    const quint16 port = sdk->getDataPort();
    std::atomic<bool> sent{true};
    std::thread sender([&] {
        QUdpSocket socket;
        for (uint32_t i = 1; i <= kFrames; ++i) {
            QElapsedTimer clock;
            clock.start();
            while (first.count() + 32 < i && clock.elapsed() < 2000)
                QThread::yieldCurrentThread();
            if (first.count() + 32 < i) {
                sent = false;
                return;
            }
            const QByteArray datagram = frame6df2({Wand{}}, int(i));
            sent = sent &&
                   socket.writeDatagram(datagram, QHostAddress::LocalHost, port) == datagram.size();
            if (i == 300)
                *observation = receiver.addFrameObserver(second.observer());
            // The removal falls among the frames, not after the last.
            while (i == 600 && !second.removed && clock.elapsed() < 5000)
                QThread::yieldCurrentThread();
        }
    });
    const auto joined = qScopeGuard([&] {
        second.removed = true;
        if (sender.joinable())
            sender.join();
    });
    QTRY_VERIFY_WITH_TIMEOUT(second.count() >= 200, 5000);
    observation->reset();
    second.removed = true;
    sender.join();
    QVERIFY(sent);
    QTRY_COMPARE_WITH_TIMEOUT(first.count(), size_t(kFrames), 5000);

    QVERIFY(first.copy() == range(1, kFrames));
    const std::vector<uint32_t> partial = second.copy();
    QVERIFY(partial.size() >= 200 && partial.size() < kFrames - 300);
    QVERIFY(partial == range(partial.front(), partial.back()));
    // Frames sent before it was added may still have waited in the socket.
    QVERIFY(partial.front() + 32 >= 300 && partial.front() <= 301);
    QCOMPARE(second.afterRemoval.load(), 0);
}

// The check's inbox fed by the receiver holds for each datagram what the
// check would decode from its bytes alone, whatever frames came before: so
// the judging is the same without a second decode.
void TestTrackReceiver::inboxHoldsWhatTheCheckDecodes()
{
    Wand second;
    second.buttons = 5;
    second.word = 0x13;
    second.x = 0.25;
    const QByteArray withoutCounter = frame6df2({Wand{}, second});
    const QList<QByteArray> datagrams = {
        frame6df2({Wand{}, second}, 7),
        frame6df2({Wand{}}, 8), // F2 absent
        "fr 9\n6df2 2 2 [0 garbage",
        "PING 1",
        withoutCounter.mid(withoutCounter.indexOf('\n') + 1),
        frame6df({1, 0x81}, 10),
        QByteArray(), // empty
        frame6df2({second, second}, 11),
    };
    auto sdk = makeSdk(0, 2000000);
    TrackReceiver receiver(sdk.get(), nullptr);
    auto inbox = std::make_shared<FrameInbox>(1);
    TrackReceiver::Observation observation =
        receiver.addFrameObserver([inbox](const TrackingSdk& source, int64_t waitStartUs) {
            inbox->push(source, waitStartUs);
        });
    receiver.start();
    const auto stop = qScopeGuard([&] { stopAndWait(receiver); });

    std::vector<FrameInbox::Entry> entries;
    // Collects rather than replaces: QTRY evaluates its condition once more.
    const auto arrived = [&] {
        std::vector<FrameInbox::Entry> more;
        inbox->take(more);
        entries.insert(entries.end(), more.begin(), more.end());
        return !entries.empty();
    };
    for (const QByteArray& datagram : datagrams) {
        entries.clear();
        QVERIFY(sendTo(sdk->getDataPort(), datagram));
        QTRY_VERIFY_WITH_TIMEOUT(arrived(), 2000);
        QCOMPARE(entries.size(), size_t(1));
        const FrameInbox::Entry& entry = entries.front();
        QVERIFY(entry.decoded && !entry.quiet && entry.bytes.empty());
        QCOMPARE(entry.sourceAddress, uint32_t(0x7F000001));
        QCOMPARE(entry.port, int(sdk->getDataPort()));

        // On the heap, as in the test before.
        const auto alone = std::make_unique<FrameData>();
        const DecodedFrame expected = DecodedFrame::read(
            decodeDatagram(*alone, datagram.constData(), size_t(datagram.size()), kBufferSize),
            *alone, 1);
        const DecodedFrame& got = entry.frame;
        const QByteArray row = datagram.left(24);
        QVERIFY2(got.decoded == expected.decoded &&
                     got.controllerLines == expected.controllerLines &&
                     got.frameCounterRead == expected.frameCounterRead &&
                     got.frameCounter == expected.frameCounter && got.present == expected.present,
                 row.constData());
        if (!expected.present)
            continue;
        const SkywandRecord& a = got.record;
        const SkywandRecord& b = expected.record;
        QVERIFY2(
            a.numButton == b.numButton && a.numJoystick == b.numJoystick &&
                a.quality == b.quality && std::equal(a.button, a.button + a.numButton, b.button) &&
                std::equal(a.joystickValue, a.joystickValue + a.numJoystick, b.joystickValue) &&
                std::equal(a.location, a.location + 3, b.location) &&
                std::equal(a.rotation, a.rotation + 9, b.rotation),
            row.constData());
    }
}

QTEST_GUILESS_MAIN(TestTrackReceiver)
#include "tst_trackreceiver.moc"
