#include "checkwizard.h"
#include "elidedlabel.h"
#include "framesender.h"
#include "joystickwidget.h"
#include "overviewwindow.h"
#include "settingportdlg.h"
#include "skywandtester.h"
#include "tilegeometry.h"
#include "trackreceiver.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

#include <sys/stat.h>

using namespace framesender;

namespace {

const QString kPressed = QStringLiteral("background-color: red; color: white;");
const QString kReleased = QStringLiteral("background-color: lightgray; color: black;");
constexpr int kDataTimeoutUs = 200000;

QString statusFor(int number, const QString& port, bool tracked = true)
{
    return QStringLiteral(" Version V01 - Skywand ID: F%1%2 - Port: ")
               .arg(QString::number(number), tracked ? QString() : QStringLiteral(" not tracked")) +
           port + QStringLiteral(" ");
}

QByteArray readConfig()
{
    QFile file(Skywandtester::configFilePath());
    if (!file.open(QIODevice::ReadOnly)) {
        return QByteArray("<missing>");
    }
    return file.readAll();
}

void writeConfig(const QByteArray& content)
{
    QFile file(Skywandtester::configFilePath());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(content), content.size());
}

// Acts on the next modal dialog of type T, from a timer that fires inside the
// dialog's own event loop; gives up after a few seconds so that a test fails
// instead of hanging.
template <typename T> void whenModal(std::function<void(T*)> act)
{
    auto* timer = new QTimer;
    auto* clock = new QElapsedTimer;
    clock->start();
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, clock, act] {
        if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
            act(dialog);
        } else if (clock->elapsed() < 5000) {
            return;
        }
        timer->stop();
        timer->deleteLater();
        delete clock;
    });
    timer->start();
}

// Enters text into the port dialog and presses OK, or Cancel.
void answerPortDialog(const QString& text, bool ok, QString* shown = nullptr)
{
    whenModal<SettingPortDlg>([=](SettingPortDlg* dialog) {
        if (shown) {
            *shown = dialog->lbl_port->text();
        }
        dialog->lbl_port->setText(text);
        (ok ? dialog->btn_ok : dialog->btn_cancel)->click();
    });
}

} // namespace

class TestSkywandtester : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void missingConfigFileIsCreated();
    void configContent_data();
    void configContent();
    void configFileNotRegular();
    void longStatusIsElided();
    void selectorAndSelectedSkywand();
    void selectedIndexBeyondCount();
    void overviewDrivesTheWindow();
    void shownOnlyWhatTheRecordHolds_data();
    void shownOnlyWhatTheRecordHolds();
    void framesAmidErrorsStillShown();
    void panelGreyWithoutData_data();
    void panelGreyWithoutData();
    void buttonCounts_data();
    void buttonCounts();
    void portDialog_data();
    void portDialog();
    void portHeldByAnotherSocket_data();
    void portHeldByAnotherSocket();
    void closing_data();
    void closing();

private:
    QLabel* status() const { return window->findChild<QLabel*>(QStringLiteral("statusLabel")); }
    QComboBox* selector() const
    {
        return window->findChild<QComboBox*>(QStringLiteral("cboSkywand"));
    }
    QLabel* label(const char* name) const
    {
        return window->findChild<QLabel*>(QLatin1String(name));
    }
    TrackReceiver* receiver() const { return window->findChild<TrackReceiver*>(); }
    void openWindowOn(quint16 port);
    void waitForShownFrame();
    QString panel() const;

    std::unique_ptr<Skywandtester> window;
    std::unique_ptr<FrameStreamer> streamer;
};

void TestSkywandtester::initTestCase()
{
    Q_INIT_RESOURCE(Skywandtester);
    Skywandtester::setDataTimeoutUsForTesting(kDataTimeoutUs);
}

void TestSkywandtester::init()
{
    QFile::remove(Skywandtester::configFilePath());
}

void TestSkywandtester::cleanup()
{
    window.reset();
    streamer.reset();
    QFile::remove(Skywandtester::configFilePath());
}

void TestSkywandtester::openWindowOn(quint16 port)
{
    writeConfig(QByteArray::number(port));
    window = std::make_unique<Skywandtester>();
}

// Returns once the receiver thread has started and the window has shown a
// frame it announced.
void TestSkywandtester::waitForShownFrame()
{
    // Counted through a queued connection, in this thread: a spy would be
    // called in the receiver thread and could race with its own destruction.
    int arrived = 0;
    QObject counter;
    QObject::connect(
        receiver(), &TrackReceiver::sendMessageDataArrived, &counter, [&arrived] { ++arrived; },
        Qt::QueuedConnection);
    QTRY_VERIFY(arrived >= 1);
    // The window's queued call was posted before the counter's.
}

void TestSkywandtester::missingConfigFileIsCreated()
{
    window = std::make_unique<Skywandtester>();
    QCOMPARE(readConfig(), QByteArray("5000"));
    // Port 5000 may be in use by another program on this machine; either way
    // the window listens, or tries to, on 5000.
    const QString text = status()->text();
    QVERIFY2(text.contains(QLatin1String("Port: 5000 ")) ||
                 text == QLatin1String("Kestrel init error") ||
                 text.endsWith(QLatin1String("tracking data")),
             qPrintable(text));
}

void TestSkywandtester::configContent_data()
{
    QTest::addColumn<QByteArray>("content");  // %P: a free port that frames go to
    QTest::addColumn<bool>("warns");          // the "Wrong data port" box
    QTest::addColumn<QString>("firstStatus"); // right after construction
    QTest::addColumn<bool>("receives");
    QTest::addColumn<QByteArray>("savedAtExit");

    const QString idle = statusFor(0, QStringLiteral("%1"));
    QTest::newRow("port") << QByteArray("%P") << false << statusFor(1, "%P") << true
                          << QByteArray("%P");
    QTest::newRow("trailing letters")
        << QByteArray("%Pxyz") << false << statusFor(1, "%Pxyz") << true << QByteArray("%Pxyz");
    QTest::newRow("line end kept")
        << QByteArray("%P\n") << false << statusFor(1, "%P\n") << true << QByteArray("%P\n");
    QTest::newRow("outside Latin-1") << QByteArray("%P\xe2\x82\xac") << false << statusFor(1, "%P?")
                                     << true << QByteArray("%P?");
    QTest::newRow("placeholder in text")
        << QByteArray("%P%0") << false << statusFor(1, "%P%0") << true << QByteArray("%P%0");
    QTest::newRow("zero") << QByteArray("0") << false << QString("Illegal data port") << false
                          << QByteArray("0");
    QTest::newRow("above 65535") << QByteArray("70000") << false << QString("Illegal data port")
                                 << false << QByteArray("70000");
    QTest::newRow("letters") << QByteArray("abc") << true << idle.arg("abc") << false
                             << QByteArray("abc");
    QTest::newRow("empty") << QByteArray() << true << idle.arg("") << false << QByteArray();
    const QByteArray longDigits(250, '7');
    QTest::newRow("too long, cut")
        << longDigits << true << idle.arg(QString(199, '7')) << false << longDigits.left(199);
    QTest::newRow("port and padding, cut")
        << QByteArray("%P") + QByteArray(250, ' ') << false << QString() << true
        << QByteArray("%P") + QByteArray(199 - 5, ' ');
}

void TestSkywandtester::configContent()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, warns);
    QFETCH(QString, firstStatus);
    QFETCH(bool, receives);
    QFETCH(QByteArray, savedAtExit);

    const quint16 port = freeUdpPort();
    QVERIFY(port >= 10000); // the padding row counts on five digits
    const QByteArray portText = QByteArray::number(port);
    content.replace("%P", portText);
    savedAtExit.replace("%P", portText);
    firstStatus.replace(QLatin1String("%P"), QLatin1String(portText));
    writeConfig(content);

    streamer = std::make_unique<FrameStreamer>(port, frame6df2({Wand{}, Wand{}}));
    streamer->start();
    QString warning;
    if (warns) {
        whenModal<QMessageBox>([&warning](QMessageBox* box) {
            warning = box->windowTitle() + '|' + box->text();
            box->accept();
        });
    }
    window = std::make_unique<Skywandtester>();
    QCOMPARE(warning, warns ? QString("Skywand tester|Wrong data port") : QString());
    if (!firstStatus.isEmpty()) {
        QCOMPARE(status()->text(), firstStatus);
    }
    if (receives) {
        QCOMPARE(selector()->count(), 2);
        QTRY_VERIFY(receiver()->isRunning());
    } else {
        // No SDK: the receiver stands idle and the window stays usable.
        QVERIFY(!receiver()->isRunning());
        QTest::qWait(3 * kDataTimeoutUs / 1000);
        QCOMPARE(selector()->count(), 0);
        QCOMPARE(status()->text(), firstStatus);
    }
    window.reset();
    QCOMPARE(readConfig(), savedAtExit);
}

void TestSkywandtester::configFileNotRegular()
{
    // Opening a FIFO to read it would block the start for good.
    QVERIFY(::mkfifo(QFile::encodeName(Skywandtester::configFilePath()).constData(), 0644) == 0);
    QString warning;
    whenModal<QMessageBox>([&warning](QMessageBox* box) {
        warning = box->text();
        box->accept();
    });
    window = std::make_unique<Skywandtester>();
    QVERIFY2(warning.endsWith(QLatin1String(
                 "is not a regular file: it is left untouched, and port 5000 is used")),
             qPrintable(warning));
    window.reset();
    QVERIFY(QFileInfo(Skywandtester::configFilePath()).exists());
    QVERIFY(!QFileInfo(Skywandtester::configFilePath()).isFile());
}

void TestSkywandtester::longStatusIsElided()
{
    const quint16 port = freeUdpPort();
    streamer = std::make_unique<FrameStreamer>(port, frame6df2({Wand{}}));
    streamer->start();
    writeConfig(QByteArray::number(port) + QByteArray(194, 'x'));
    window = std::make_unique<Skywandtester>();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    // The form's size, or the minimum that keeps a usual status whole: the
    // long text widens nothing.
    QCOMPARE(window->size(), QSize(328, 475).expandedTo(window->minimumSize()));
    const auto* label = qobject_cast<ElidedLabel*>(status());
    QVERIFY(label);
    QCOMPARE(label->text(), statusFor(1, QString::number(port) + QString(194, 'x')));
    QCOMPARE(label->toolTip(), label->text());
    QVERIFY2(label->shownText().endsWith(QChar(0x2026)), qPrintable(label->shownText()));
    QVERIFY(label->text().startsWith(label->shownText().chopped(1)));
}

void TestSkywandtester::selectorAndSelectedSkywand()
{
    const quint16 port = freeUdpPort();
    openWindowOn(port);
    // Nothing was sent yet: an empty selector and a timeout.
    QCOMPARE(selector()->count(), 0);
    QTRY_COMPARE(status()->text(), QString("timeout while waiting for tracking data"));

    Wand second{6, 0b100010, 0.5, -0.25}; // button 2 and button 6 (the joystick press)
    streamer = std::make_unique<FrameStreamer>(port, frame6df2({Wand{}, second, Wand{}}));
    streamer->start();
    QTRY_COMPARE(selector()->count(), 3);
    QCOMPARE(selector()->itemText(0), QString("F1"));
    QCOMPARE(selector()->itemText(2), QString("F3"));
    QCOMPARE(selector()->currentIndex(), 0);
    QTRY_COMPARE(status()->text(), statusFor(1, QString::number(port)));
    QCOMPARE(label("lbl_btn2")->styleSheet(), kReleased);

    selector()->setCurrentIndex(1);
    QCOMPARE(status()->text(), statusFor(2, QString::number(port)));
    QTRY_COMPARE(label("lbl_btn2")->styleSheet(), kPressed);
    QCOMPARE(label("lbl_btn1")->styleSheet(), kReleased);
    QCOMPARE(label("lbl_joyH")->text(), QString("X = 0.50"));
    QCOMPARE(label("lbl_joyV")->text(), QString("Y = -0.25"));
    QVERIFY(window->findChild<JoystickWidget*>()->isPressed());
    QCOMPARE(status()->text(), statusFor(2, QString::number(port)));
}

// View, All Skywands: tiles from the receiver's observer, a click selects,
// a typed wand id is kept in the configuration file, Check starts the wizard
// on that Skywand with its id.
void TestSkywandtester::overviewDrivesTheWindow()
{
    const quint16 port = freeUdpPort();
    openWindowOn(port);
    streamer = std::make_unique<FrameStreamer>(port, frame6df2({Wand{}, Wand{}, Wand{}}));
    streamer->start();
    QTRY_COMPARE(selector()->count(), 3);
    window->findChild<QAction*>(QStringLiteral("actionAllSkywands"))->trigger();
    auto* overview = window->findChild<OverviewWindow*>();
    QVERIFY(overview && overview->isVisible());
    QTRY_COMPARE(int(overview->tiles().size()), 3);
    QTRY_VERIFY(overview->tiles()[2].wand.frames > 0);

    auto* grid = overview->findChild<QWidget*>(QStringLiteral("tileGrid"));
    QTest::mouseClick(grid, Qt::LeftButton, {}, TileGeometry::tileRect(2, grid->width()).center());
    QCOMPARE(selector()->currentIndex(), 2);

    auto* id = overview->findChild<QLineEdit*>(QStringLiteral("wandIdEdit"));
    id->setText(QStringLiteral("W-7"));
    QTest::keyClick(id, Qt::Key_Return);
    QCOMPARE(overview->wandIdAt(2), QStringLiteral("W-7"));
    QFile config(Skywandtester::configFilePath());
    QVERIFY(config.open(QIODevice::ReadOnly));
    QCOMPARE(config.readAll(), QByteArray::number(port) + "\nwand-id=3:W-7\n");

    overview->findChild<QPushButton*>(QStringLiteral("checkButton"))->click();
    auto* wizard = window->findChild<CheckWizard*>();
    QVERIFY(wizard);
    QCOMPARE(wizard->skywandIndex(), 2);
    QCOMPARE(wizard->findChild<QLineEdit*>(QStringLiteral("wandId"))->text(),
             QStringLiteral("W-7"));
    // "Check next wand" moves the wizard and the selector on to the next
    // tile without a check today, wrapping past the last.
    emit wizard->nextWandRequested();
    QCOMPARE(wizard->skywandIndex(), 0);
    QCOMPARE(selector()->currentIndex(), 0);
    wizard->close();
}

void TestSkywandtester::selectedIndexBeyondCount()
{
    const quint16 port = freeUdpPort();
    Wand third{6, 0b1, 1.0, 1.0};
    streamer = std::make_unique<FrameStreamer>(port, frame6df2({Wand{}, Wand{}, third}));
    streamer->start();
    openWindowOn(port);
    QCOMPARE(selector()->count(), 3);
    selector()->setCurrentIndex(2);
    QTRY_COMPARE(label("lbl_btn1")->styleSheet(), kPressed);

    streamer->setFrame(frame6df2({Wand{6, 0b1, 0.5, 0.5}}));
    QTRY_COMPARE(panel(), QString("ggggg X = 0.00 Y = 0.00 grey"));
    QCOMPARE(status()->text(), statusFor(3, QString::number(port), false));
    QCOMPARE(selector()->count(), 3);

    streamer->setFrame(frame6df2({Wand{}, Wand{}, third}));
    QTRY_COMPARE(panel(), QString("x---- X = 1.00 Y = 1.00"));
    QCOMPARE(status()->text(), statusFor(3, QString::number(port)));
}

// Button styles (x pressed, - released, g not tracked), the value texts, the
// indicator's press and the grey of a Skywand not tracked.
QString TestSkywandtester::panel() const
{
    QString out;
    for (const char* name : {"lbl_btn1", "lbl_btn2", "lbl_btn3", "lbl_btn4", "lbl_btn5"}) {
        const QString style = label(name)->styleSheet();
        out += style == kPressed ? 'x' : style == kReleased ? '-' : 'g';
    }
    out += ' ' + label("lbl_joyH")->text() + ' ' + label("lbl_joyV")->text();
    const auto* joystick = window->findChild<JoystickWidget*>();
    if (joystick->isPressed()) {
        out += " pressed";
    }
    if (!joystick->isEnabled()) {
        out += " grey";
    }
    return out;
}

void TestSkywandtester::shownOnlyWhatTheRecordHolds_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QString>("shownBefore");
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<QString>("shownAfter");

    const QByteArray held = frame6df2({Wand{6, 0b100001, 0.5, -0.5}});
    const QString heldShown = "x---- X = 0.50 Y = -0.50 pressed";
    QTest::newRow("buttons past numButton")
        << frame6df2({Wand{16, 0xffff, 0.5, 0.5}}) << "xxxxx X = 0.50 Y = 0.50"
        << frame6df2({Wand{2, 0b11, 0.25, -0.25}}) << "xx--- X = 0.25 Y = -0.25";
    QTest::newRow("one joystick value")
        << held << heldShown << frame6df2({Wand{6, 0, 0.75, 0, 1}}) << "----- X = 0.75 Y = 0.00";
    QTest::newRow("no joystick values")
        << held << heldShown << frame6df2({Wand{6, 0, 0, 0, 0}}) << "----- X = 0.00 Y = 0.00";
    QTest::newRow("no record for it")
        << held << heldShown << QByteArray("fr 2\n6df2 1 0\n") << "ggggg X = 0.00 Y = 0.00 grey";
    QTest::newRow("no Skywand line")
        << held << heldShown << QByteArray("fr 2\n") << "ggggg X = 0.00 Y = 0.00 grey";
}

void TestSkywandtester::shownOnlyWhatTheRecordHolds()
{
    QFETCH(QByteArray, before);
    QFETCH(QString, shownBefore);
    QFETCH(QByteArray, after);
    QFETCH(QString, shownAfter);

    const quint16 port = freeUdpPort();
    streamer = std::make_unique<FrameStreamer>(port, before);
    streamer->start();
    openWindowOn(port);
    QTRY_COMPARE(panel(), shownBefore);
    streamer->setFrame(after);
    QTRY_COMPARE(panel(), shownAfter);
    QCOMPARE(status()->text(), statusFor(1, QString::number(port), !shownAfter.endsWith("grey")));
}

// A frame whose showing waits for the paint interval is dropped by an error
// that comes first; the frames after it must still reach the panel.
void TestSkywandtester::framesAmidErrorsStillShown()
{
    const quint16 port = freeUdpPort();
    streamer = std::make_unique<FrameStreamer>(port, frame6df2({Wand{6, 0, 0.25, 0.5}}));
    FrameStreamer errors(port, QByteArray("fr 2\n6df2 -1 0\n"));
    streamer->start();
    errors.start();
    openWindowOn(port);
    QTRY_COMPARE(panel(), QStringLiteral("----- X = 0.25 Y = 0.50"));
    QTRY_COMPARE(status()->text(), QStringLiteral("error while parsing tracking data"));
    // Long enough for some errors to come while a frame waits. Until they
    // stop, the panel may show either datagram: the SDK holds the newest.
    QTest::qWait(300);
    errors.stop();
    streamer->setFrame(frame6df2({Wand{6, 0, -0.75, 0.5}}));
    QTRY_COMPARE(panel(), QStringLiteral("----- X = -0.75 Y = 0.50"));
}

void TestSkywandtester::panelGreyWithoutData_data()
{
    QTest::addColumn<QString>("cause");
    QTest::newRow("data timeout") << "timeout";
    QTest::newRow("port changed to a silent one") << "silent";
    QTest::newRow("port changed to one another program holds") << "held";
}

// Without data the panel shows no frame as live: it looks as it does for a
// Skywand that is not tracked until the next frame.
void TestSkywandtester::panelGreyWithoutData()
{
    QFETCH(QString, cause);
    const quint16 port = freeUdpPort();
    streamer = std::make_unique<FrameStreamer>(port, frame6df2({Wand{6, 0b100001, 0.5, -0.5}}));
    streamer->start();
    openWindowOn(port);
    QTRY_COMPARE(panel(), QStringLiteral("x---- X = 0.50 Y = -0.50 pressed"));

    quint16 next = port;
    QUdpSocket holder;
    if (cause == QLatin1String("timeout")) {
        streamer->stop();
    } else {
        if (cause == QLatin1String("held")) {
            QVERIFY(holder.bind(QHostAddress::AnyIPv4, 0));
            next = holder.localPort();
        } else {
            while (next == port) {
                next = freeUdpPort();
            }
        }
        answerPortDialog(QString::number(next), true);
        window->findChild<QAction*>(QStringLiteral("action_port"))->trigger();
    }
    QTRY_COMPARE(panel(), QStringLiteral("ggggg X = 0.00 Y = 0.00 grey"));
    holder.close();
    streamer = std::make_unique<FrameStreamer>(next, frame6df2({Wand{6, 0b1, 0.25, 0}}));
    streamer->start();
    QTRY_COMPARE(panel(), QStringLiteral("x---- X = 0.25 Y = 0.00"));
}

void TestSkywandtester::buttonCounts_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<bool>("button5Shown");
    QTest::addColumn<bool>("joystickPressed");
    QTest::addColumn<QString>("pressedLabel");

    // 6df bits: 2 is button 2, 32 is button 6, which also means X = -1.
    QTest::newRow("8 buttons (6df)") << frame6df({2 | 32}) << false << false << "lbl_btn2";
    QTest::newRow("6 buttons") << frame6df2({Wand{6, 0b110000, 0, 0}}) << true << true
                               << "lbl_btn5";
    QTest::newRow("4 buttons") << frame6df2({Wand{4, 0b1000, 0, 0}}) << true << false << "lbl_btn4";
    QTest::newRow("no buttons") << frame6df2({Wand{0, 0, 0.5, 0}}) << true << false << "";
}

void TestSkywandtester::buttonCounts()
{
    QFETCH(QByteArray, frame);
    QFETCH(bool, button5Shown);
    QFETCH(bool, joystickPressed);
    QFETCH(QString, pressedLabel);

    const quint16 port = freeUdpPort();
    streamer = std::make_unique<FrameStreamer>(port, frame);
    streamer->start();
    openWindowOn(port);
    QCOMPARE(selector()->count(), 1);
    waitForShownFrame();
    QTRY_COMPARE(label("lbl_btn5")->isHidden(), !button5Shown);
    QCOMPARE(window->findChild<JoystickWidget*>()->isPressed(), joystickPressed);
    for (const char* name : {"lbl_btn1", "lbl_btn2", "lbl_btn3", "lbl_btn4", "lbl_btn5"}) {
        QCOMPARE(label(name)->styleSheet(),
                 pressedLabel == QLatin1String(name) ? kPressed : kReleased);
    }
    // Whatever the button count, buttons 1 to 4 and both joystick values stay
    // on show.
    for (const char* name :
         {"lbl_btn1", "lbl_btn2", "lbl_btn3", "lbl_btn4", "lbl_joyH", "lbl_joyV"}) {
        QVERIFY2(!label(name)->isHidden(), name);
    }
}

void TestSkywandtester::portDialog_data()
{
    QTest::addColumn<QString>("entry"); // %P: the current port, %Q: another free one
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("portTextAfter");

    QTest::newRow("1") << "1" << true << "%P";
    QTest::newRow("65535") << "65535" << true << "%P";
    QTest::newRow("abc") << "abc" << true << "%P";
    QTest::newRow("current text") << "%P" << true << "%P";
    QTest::newRow("cancelled") << "%Q" << false << "%P";
    QTest::newRow("leading zero") << "0%P" << true << "0%P";
    QTest::newRow("other port") << "%Q" << true << "%Q";
    QTest::newRow("too long, cut before the check")
        << QString(190, '0') + "%Q" << true << QString(190, '0') + "%Q";
    QTest::newRow("too long, zeros left after the cut") << QString(199, '0') + "%Q" << true << "%P";
}

void TestSkywandtester::portDialog()
{
    QFETCH(QString, entry);
    QFETCH(bool, ok);
    QFETCH(QString, portTextAfter);

    const quint16 port = freeUdpPort();
    quint16 other = freeUdpPort();
    while (other == port) {
        other = freeUdpPort();
    }
    const auto fill = [&](QString text) {
        return text.replace(QLatin1String("%P"), QString::number(port))
            .replace(QLatin1String("%Q"), QString::number(other));
    };
    entry = fill(entry);
    portTextAfter = fill(portTextAfter);
    const bool restarts = portTextAfter != QString::number(port);
    const quint16 portAfter = portTextAfter.toUShort();

    streamer = std::make_unique<FrameStreamer>(port, frame6df2({Wand{}}));
    streamer->start();
    openWindowOn(port);
    waitForShownFrame();
    QCOMPARE(status()->text(), statusFor(1, QString::number(port)));
    QSignalSpy starts(receiver(), &QThread::started);

    QString shown;
    answerPortDialog(entry, ok, &shown);
    window->findChild<QAction*>(QStringLiteral("action_port"))->trigger();
    QCOMPARE(shown, QString::number(port));
    // The file holds the new text as soon as the dialog is accepted.
    QCOMPARE(readConfig(), portTextAfter.toLatin1());
    QTRY_COMPARE(starts.count(), restarts ? 1 : 0);

    if (portAfter != port) {
        streamer = std::make_unique<FrameStreamer>(portAfter, frame6df2({Wand{}, Wand{}}));
        streamer->start();
    }
    QTRY_COMPARE(status()->text(), statusFor(1, portTextAfter));
    QVERIFY(receiver()->isRunning());
    QCOMPARE(starts.count(), restarts ? 1 : 0);
    window.reset();
    QCOMPARE(readConfig(), portTextAfter.toLatin1());
}

void TestSkywandtester::portHeldByAnotherSocket_data()
{
    QTest::addColumn<bool>("sameTextInDialog");
    QTest::newRow("tried again") << false;
    QTest::newRow("same text in the dialog") << true;
}

void TestSkywandtester::portHeldByAnotherSocket()
{
    QFETCH(bool, sameTextInDialog);
    auto holder = std::make_unique<QUdpSocket>();
    QVERIFY(holder->bind(QHostAddress::AnyIPv4, 0));
    const quint16 port = holder->localPort();
    openWindowOn(port);
    QCOMPARE(status()->text(), QString("Kestrel init error - waiting for port %1").arg(port));
    QVERIFY(!receiver()->isRunning());

    holder.reset();
    streamer = std::make_unique<FrameStreamer>(port, frame6df2({Wand{}}));
    streamer->start();
    if (sameTextInDialog) {
        answerPortDialog(QString::number(port), true);
        window->findChild<QAction*>(QStringLiteral("action_port"))->trigger();
        QVERIFY(receiver()->isRunning());
    }
    // The next try, at most two seconds later, opens the port.
    QTRY_COMPARE(status()->text(), statusFor(1, QString::number(port)));
    QVERIFY(receiver()->isRunning());
}

void TestSkywandtester::closing_data()
{
    QTest::addColumn<QString>("how");
    // To the question about a running check; empty: no check, no question.
    QTest::addColumn<QString>("answer");
    QTest::newRow("close box") << "close"
                               << "";
    QTest::newRow("File, Exit") << "exit"
                                << "";
    QTest::newRow("Q key") << "key"
                           << "";
    QTest::newRow("Q key, running check, go back") << "key"
                                                   << "Go back";
    QTest::newRow("close box, running check, discard") << "close"
                                                       << "Discard";
}

void TestSkywandtester::closing()
{
    QFETCH(QString, how);
    QFETCH(QString, answer);
    // A long timeout keeps the receiver blocked in receive while the window
    // goes; deleting a running thread would abort the test.
    Skywandtester::setDataTimeoutUsForTesting(1000000);
    const quint16 port = freeUdpPort();
    openWindowOn(port);
    Skywandtester::setDataTimeoutUsForTesting(kDataTimeoutUs);
    QPointer<TrackReceiver> thread = receiver();
    QVERIFY(thread->isRunning());
    QFile::remove(Skywandtester::configFilePath());

    QString asked;
    if (!answer.isEmpty()) {
        window->show();
        window->findChild<QAction*>(QStringLiteral("actionCheckSkywand"))->trigger();
        auto* wizard = window->findChild<CheckWizard*>();
        wizard->findChild<QLineEdit*>(QStringLiteral("wandId"))->setText(QStringLiteral("SW-0042"));
        wizard->next();
        QVERIFY(wizard->holdsUnsavedCheck());
        window->activateWindow();
        whenModal<QMessageBox>([&asked, answer](QMessageBox* box) {
            asked = box->text();
            for (QAbstractButton* button : box->buttons())
                if (button->text().remove(QLatin1Char('&')) == answer)
                    button->click();
        });
    }
    // Going back keeps the window, its receiver and the check.
    const bool quits = answer != QLatin1String("Go back");
    if (how == QLatin1String("close")) {
        window->show();
        QCOMPARE(window->close(), quits);
    } else if (how == QLatin1String("exit")) {
        window->findChild<QAction*>(QStringLiteral("action_exit"))->trigger();
        QVERIFY(thread->isFinished());
    } else {
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QTest::keyClick(window.get(), Qt::Key_Q);
        QCOMPARE(thread->isFinished(), quits);
    }
    QCOMPARE(asked, answer.isEmpty() ? QString()
                                     : QStringLiteral("The check of SW-0042 is still running and "
                                                      "not saved. Save, discard, or go back?"));
    window.reset();
    QVERIFY(thread.isNull());
    QCOMPARE(readConfig(), QByteArray::number(port));
}

QTEST_MAIN(TestSkywandtester)
#include "tst_skywandtester.moc"
