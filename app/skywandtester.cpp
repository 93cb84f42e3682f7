#include "skywandtester.h"

#include "checkhistory.h"
#include "checkhistorywindow.h"
#include "checkprofile.h"
#include "checkstore.h"
#include "checkstoredialog.h"
#include "checkwizard.h"
#include "configfile.h"
#include "elidedlabel.h"
#include "frameinbox.h"
#include "helpbrowser.h"
#include "overviewwindow.h"
#include "paintpacer.h"
#include "settingportdlg.h"
#include "skywandwidget.h"
#include "streamhealth.h"
#include "streammonitorwindow.h"
#include "trackingsdk.h"
#include "trackreceiver.h"
#include "ui_skywandtester.h"

#include <QApplication>
#include <QByteArray>
#include <QCloseEvent>
#include <QColor>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFont>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPalette>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWhatsThis>

#include <exception>
#include <locale>
#include <memory>
#include <sstream>

namespace {

int dataTimeoutUs = TrackingSdk::kDefaultDataTimeoutUs;

const QString kStylePressed = QStringLiteral("background-color: red; color: white;");
const QString kStyleReleased = QStringLiteral("background-color: lightgray; color: black;");
// A Skywand the frame holds no record for: its labels in grey.
const QString kStyleNotTracked = QStringLiteral("background-color: lightgray; color: gray;");
const QString kStyleValue = QStringLiteral("background-color: white; color: black;;");
const QString kStyleValueNotTracked = QStringLiteral("background-color: white; color: gray;");

// Slots run inside Qt's event delivery, where an exception must not arrive.
template <typename Body> void withoutThrowing(const char* where, Body body)
{
    try {
        body();
    } catch (const std::exception& e) {
        qWarning() << where << "failed:" << e.what();
    } catch (...) {
        qWarning() << where << "failed";
    }
}

constexpr int kPaintIntervalMs = 16; // about 60 Hz
// The longest profile path the configuration file keeps, as the system
// bounds a path.
constexpr int kMaxProfilePathBytes = 4095;
// While another program holds the data port, it is tried again this often.
constexpr int kPortRetryMs = 2000;

// The port text read as a decimal int the way a standard input stream reads
// it: leading blanks skipped, a sign taken, digits up to the first other
// character ("5000xyz" gives 5000).
bool readPort(const char* text, int* port)
{
    std::istringstream stream{std::string(text)};
    stream.imbue(std::locale::classic());
    return static_cast<bool>(stream >> *port);
}

} // namespace

Skywandtester::Skywandtester(QWidget* parent, Qt::WindowFlags flags)
    : QMainWindow(parent, flags), portText{}, version(QStringLiteral("V01")), selectedIndex(0),
      buttonCount(0), sdk(nullptr), receiver(nullptr), statusLabel(nullptr), skywandWidget(nullptr),
      panelLayout(nullptr)
{
    setPortText(QByteArrayLiteral("5000"));
    ui = std::make_unique<Ui::SkywandtesterClass>();
    ui->setupUi(this);
    panelTimer = new QTimer(this);
    panelTimer->setSingleShot(true);
    connect(panelTimer, &QTimer::timeout, this, [this] {
        if (dataDeferred) {
            takeDataNotification();
        }
        withoutThrowing("Tracking data", [this] {
            panelShown.start();
            showTrackingData(sdk);
        });
    });
    portRetryTimer = new QTimer(this);
    portRetryTimer->setInterval(kPortRetryMs);
    connect(portRetryTimer, &QTimer::timeout, this, [this] { retryDataPort(); });
    new PaintPacer(this, kPaintIntervalMs);
    connectActions();
    createMonitorEntries();
    createCheckEntry();
    createProfileEntry();
    createStoreEntry();
    loadConfig();
    setupStatusAndPanel();
    createTrackingSdk();
    fillSkywandSelector();
    startReceiver();
    setMinimumSize(minimumWindowSize());
}

QSize Skywandtester::minimumWindowSize() const
{
    // Users are told to read the port on the status line: it stays whole
    // for a Skywand that is not tracked on a port of five digits. The size
    // grip and the status bar's margins come on top of the text.
    const QString widest =
        QStringLiteral(" Version %1 - Skywand ID: F99 not tracked - Port: 65534 ").arg(version);
    const QMargins margins = statusLabel->contentsMargins();
    const int statusWidth = statusLabel->fontMetrics().horizontalAdvance(widest) + margins.left() +
                            margins.right() + 2 * statusLabel->frameWidth() +
                            statusLabel->fontMetrics().height() * 2;
    return minimumSizeHint().expandedTo(QSize(statusWidth, 0));
}

Skywandtester::~Skywandtester()
{
    // An open check wizard goes first, while the window is whole: its end
    // takes the receiver's observer back, which a window already half
    // destroyed could not do safely.
    delete checkWizard;
    saveConfig();
    stopReceiver();
    delete receiver;
    receiver = nullptr;
    delete sdk;
    sdk = nullptr;
}

void Skywandtester::setDataTimeoutUsForTesting(int microseconds)
{
    dataTimeoutUs = microseconds;
}

void Skywandtester::setPortText(const QByteArray& text)
{
    // Cut, never overflow: the buffer holds kPortTextMax characters and the
    // terminating zero. An embedded zero byte ends the text early.
    qstrncpy(portText, text.constData(), sizeof portText);
}

QString Skywandtester::statusText(int skywandNumber, bool tracked) const
{
    // One multi-argument arg() call fills all fields in a single pass, so a
    // port text that itself holds "%1" or "%0" stays as it is. The state
    // comes before the port, where a narrow status line still shows it.
    return QStringLiteral(" Version %1 - Skywand ID: F%2%3 - Port: %4 ")
        .arg(version, QString::number(skywandNumber),
             tracked ? QString() : QStringLiteral(" not tracked"), QString::fromLatin1(portText));
}

// The status line shows what fits; its tool tip holds the whole text.
void Skywandtester::setStatus(const QString& text)
{
    // Set with every frame shown, where it seldom changes.
    if (statusLabel->text() != text) {
        statusLabel->setText(text);
    }
    if (statusLabel->toolTip() != text) {
        statusLabel->setToolTip(text);
    }
}

void Skywandtester::connectActions()
{
    connect(ui->action_exit, SIGNAL(triggered(bool)), this, SLOT(onActionExit()));
    connect(ui->action_port, SIGNAL(triggered(bool)), this, SLOT(openSettingsPortDlg()));
    connect(ui->action_info, SIGNAL(triggered(bool)), this, SLOT(onInfo()));
}

void Skywandtester::setupStatusAndPanel()
{
    statusLabel = new ElidedLabel;
    statusLabel->setObjectName(QStringLiteral("statusLabel"));
    ui->statusBar->addPermanentWidget(statusLabel, 0);
    // Shown while no usable data arrives, where the user looks for the cause.
    diagnoseButton = new QPushButton(QStringLiteral("Diagnose"));
    diagnoseButton->setObjectName(QStringLiteral("diagnoseButton"));
    // Coloured by palette, not by a style sheet: a style sheet gives the
    // button a new palette at every paint, and the style caches the bevel it
    // draws under that palette's key, so under damaged traffic (the button
    // shown and hidden dozens of times a second) the pixmap cache filled
    // with bevels nobody would draw again.
    QPalette diagnosePalette = diagnoseButton->palette();
    diagnosePalette.setColor(QPalette::Button, QColor(0xd9, 0x82, 0x2b));
    diagnosePalette.setColor(QPalette::ButtonText, Qt::white);
    diagnoseButton->setPalette(diagnosePalette);
    QFont diagnoseFont = diagnoseButton->font();
    diagnoseFont.setBold(true);
    diagnoseButton->setFont(diagnoseFont);
    diagnoseButton->setToolTip(QStringLiteral("Find out why no tracking data arrives"));
    diagnoseButton->hide();
    connect(diagnoseButton, &QPushButton::clicked, this, [this] {
        withoutThrowing("Diagnose", [this] {
            openStreamMonitor();
            monitor->diagnose();
        });
    });
    ui->statusBar->addWidget(diagnoseButton, 0);
    setStatus(QStringLiteral(" Version ") + version + QStringLiteral(" - Skywand ID: F0 - Port: ") +
              QString::fromLatin1(portText) + QStringLiteral(" "));
    ui->frame_main->setStyleSheet(QStringLiteral("background-color: white;"));
    panelLayout = new QVBoxLayout(ui->frame_main);
    skywandWidget = new SkywandWidget;
    panelLayout->addWidget(skywandWidget, 0);
    showNoFrame();
    // Under the panel, while the port text names no port.
    portNotice = new QLabel;
    portNotice->setObjectName(QStringLiteral("portNotice"));
    portNotice->setWordWrap(true);
    portNotice->setTextFormat(Qt::PlainText);
    portNotice->setTextInteractionFlags(Qt::TextSelectableByMouse);
    portNotice->hide();
    ui->verticalLayout->addWidget(portNotice);
}

TrackingSdk* Skywandtester::newTrackingSdk(int port)
{
    return new TrackingSdk(std::string(), 0, static_cast<uint16_t>(port),
                           TrackingSdk::kDefaultDataBufferSize, dataTimeoutUs,
                           TrackingSdk::kDefaultServerTimeoutUs);
}

bool Skywandtester::configuredPort(int* port) const
{
    return readPort(portText, port) && *port >= 1 && *port <= 65535;
}

void Skywandtester::createTrackingSdk()
{
    int port = 0;
    portNotice->hide();
    if (!readPort(portText, &port)) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Skywand tester"),
                        QStringLiteral("Wrong data port"), QMessageBox::Ok, this);
        box.setInformativeText(noPortExplanation());
        box.exec();
        qDebug() << "Wrong data port";
        showNoPort();
        return;
    }
    if (port < 1 || port > 65535) {
        qDebug() << "Illegal data port";
        setStatus(QStringLiteral("Illegal data port"));
        showNoPort();
        return;
    }
    sdk = newTrackingSdk(port);
    if (!sdk->isValid()) {
        // Most often another program holds the port; it is tried again
        // until that program lets it go.
        qDebug() << "Kestrel init error";
        setStatus(QStringLiteral("Kestrel init error - waiting for port %1").arg(port));
        setDiagnoseShown(true);
        portRetryTimer->start();
        return;
    }
    // Fills the frame data before fillSkywandSelector() counts the Skywands.
    sdk->receive();
}

void Skywandtester::showNoPort()
{
    const QString explanation = noPortExplanation();
    qDebug().noquote() << explanation;
    portNotice->setText(explanation);
    portNotice->show();
    setDiagnoseShown(true);
}

QString Skywandtester::noPortExplanation() const
{
    // The text as found, readable on one line and short enough for a label:
    // control characters escaped, the rest of a long text cut.
    constexpr int kShownMax = 24;
    const QString text = QString::fromLatin1(portText);
    QString shown;
    for (const QChar c : text) {
        if (shown.size() >= kShownMax) {
            shown += QChar(0x2026);
            break;
        }
        if (c == QLatin1Char('\n')) {
            shown += QStringLiteral("\\n");
        } else if (c == QLatin1Char('\r')) {
            shown += QStringLiteral("\\r");
        } else if (c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() < 0xa0)) {
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        } else {
            shown += c;
        }
    }
    const QString path = QDir::toNativeSeparators(configFilePath());
    const QString found = text.isEmpty() ? QStringLiteral("%1 is empty").arg(path)
                                         : QStringLiteral("%1 holds \"%2\"").arg(path, shown);
    return QStringLiteral("No usable data port: %1. Settings, Port settings (F2) sets a port from "
                          "%2 to %3.")
        .arg(found, QString::number(SettingPortDlg::kLowestPort),
             QString::number(SettingPortDlg::kHighestPort));
}

void Skywandtester::retryDataPort()
{
    withoutThrowing("Port retry", [this] {
        int port = 0;
        if (!sdk || sdk->isValid() || !readPort(portText, &port)) {
            portRetryTimer->stop();
            return;
        }
        std::unique_ptr<TrackingSdk> next(newTrackingSdk(port));
        if (!next->isValid()) {
            return;
        }
        portRetryTimer->stop();
        stopReceiver();
        delete sdk;
        sdk = next.release();
        setStatus(statusText(ui->cboSkywand->currentIndex() + 1));
        receiver->setSdk(sdk);
        receiver->setRunning(true);
        receiver->start(QThread::InheritPriority);
        tellMonitorPort();
    });
}

void Skywandtester::fillSkywandSelector()
{
    if (!sdk) {
        return;
    }
    const int count = sdk->getNumSkywand();
    if (count <= 0) {
        return;
    }
    for (int i = 0; i < count; ++i) {
        ui->cboSkywand->addItem(QStringLiteral("F%1").arg(i + 1), QVariant());
    }
    ui->cboSkywand->setCurrentIndex(selectedIndex);
    buttonCount = sdk->getSkywand(0).numButton;
}

void Skywandtester::startReceiver()
{
    receiver = new TrackReceiver(sdk, this);
    receiver->setFailurePauseUs(dataTimeoutUs);
    // When frames come faster than the panel can show them, the newest one
    // is shown and the queue does not grow; otherwise every frame is shown.
    receiver->setCoalescing(true);
    connect(receiver, SIGNAL(sendMessageDataArrived()), this, SLOT(onReceiveTrackingData()));
    connect(receiver, SIGNAL(sendMessageDataError()), this, SLOT(onReceiveTrackingDataError()));
    // With no SDK the window stays usable but idle until a valid port is
    // entered in the port dialog, whose restart creates the SDK; with an SDK
    // whose port did not open, until the port comes free.
    if (sdk && sdk->isValid()) {
        receiver->start(QThread::InheritPriority);
    }
}

void Skywandtester::stopReceiver()
{
    if (!receiver) {
        return;
    }
    receiver->onStop();
    receiver->exit(0);
    receiver->wait();
}

void Skywandtester::createMonitorEntries()
{
    auto* view = new QMenu(QStringLiteral("&View"), this);
    view->setObjectName(QStringLiteral("menuView"));
    QAction* action = view->addAction(QStringLiteral("Stream monitor"));
    action->setObjectName(QStringLiteral("actionStreamMonitor"));
    action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    connect(action, &QAction::triggered, this,
            [this] { withoutThrowing("Stream monitor", [this] { openStreamMonitor(); }); });
    QAction* records = view->addAction(QStringLiteral("Check &history"));
    records->setObjectName(QStringLiteral("actionCheckHistory"));
    records->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    connect(records, &QAction::triggered, this,
            [this] { withoutThrowing("Check history", [this] { openCheckHistory(); }); });
    QAction* all = view->addAction(QStringLiteral("All Skywands"));
    all->setObjectName(QStringLiteral("actionAllSkywands"));
    all->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
    connect(all, &QAction::triggered, this,
            [this] { withoutThrowing("All Skywands", [this] { openOverview(); }); });
    menuBar()->insertMenu(ui->menu_Help->menuAction(), view);
}

void Skywandtester::openStreamMonitor()
{
    if (!monitor) {
        // A window of its own that closes with the main one.
        monitor = new StreamMonitorWindow(this);
        connect(monitor, &StreamMonitorWindow::switchPortRequested, this, [this](int port) {
            withoutThrowing("Switch port", [this, port] { switchToPort(port); });
        });
        // The health counts every datagram, so the receiver's thread hands
        // each one over while the monitor wants them.
        connect(monitor, &StreamMonitorWindow::framesWanted, this, [this](bool wanted) {
            monitorObservation.reset();
            if (wanted && receiver) {
                monitorObservation = receiver->addFrameObserver(
                    [target = monitor](const TrackingSdk& source, int64_t) {
                        target->recordReceive(source);
                    });
            }
        });
    }
    // The diagnosis judges the Skywand chosen here, not whichever the
    // monitor's own selector shows.
    monitor->setChosenSkywand(selectedIndex < 0 ? 0 : selectedIndex);
    tellMonitorPort();
    monitor->show();
    monitor->raise();
    monitor->activateWindow();
}

void Skywandtester::tellMonitorPort()
{
    if (!monitor) {
        return;
    }
    int port = 0;
    if (sdk && sdk->isValid()) {
        monitor->setPort(sdk->getDataPort(), true);
    } else if (configuredPort(&port)) {
        monitor->setPort(port, false);
    } else {
        monitor->setNoPort(noPortExplanation());
    }
}

void Skywandtester::setDiagnoseShown(bool shown)
{
    if (diagnoseButton->isHidden() == shown) {
        diagnoseButton->setVisible(shown);
    }
}

void Skywandtester::switchToPort(int port)
{
    if (port < SettingPortDlg::kLowestPort || port > SettingPortDlg::kHighestPort) {
        return;
    }
    setPortText(QByteArray::number(port));
    saveConfig();
    RestartDataReceiver();
    openStreamMonitor();
}

void Skywandtester::openCheckHistory()
{
    // Opened anew on the records in use, so that a changed setting applies.
    if (!history) {
        history = new CheckHistoryWindow(checkStoreUrl(), this);
        history->setAttribute(Qt::WA_DeleteOnClose);
    } else {
        history->setStoreUrl(checkStoreUrl());
    }
    history->show();
    history->raise();
    history->activateWindow();
}

void Skywandtester::openOverview()
{
    if (!overview) {
        // A window of its own that closes with the main one.
        overview = new OverviewWindow(this);
        overview->setWandIds(wandIds);
        // Its health counts every datagram, so the receiver's thread hands
        // each one over while the overview is shown.
        connect(overview, &OverviewWindow::framesWanted, this, [this](bool wanted) {
            overviewObservation.reset();
            if (wanted && receiver) {
                overviewObservation = receiver->addFrameObserver(
                    [target = overview](const TrackingSdk& source, int64_t) {
                        target->recordReceive(source);
                    });
            }
        });
        connect(overview, &OverviewWindow::skywandChosen, this, [this](int index) {
            if (index >= 0 && index < ui->cboSkywand->count())
                ui->cboSkywand->setCurrentIndex(index);
        });
        connect(overview, &OverviewWindow::wandIdChanged, this,
                [this](int index, const QString& id) {
                    if (id.isEmpty())
                        wandIds.remove(index);
                    else
                        wandIds.insert(index, id);
                    saveConfig();
                });
        connect(overview, &OverviewWindow::checkRequested, this,
                [this](int index, const QString& id) {
                    withoutThrowing("Check Skywand",
                                    [this, index, id] { checkFromOverview(index, id); });
                });
    }
    overview->setStoreUrl(checkStoreUrl());
    overview->setSelectedIndex(selectedIndex < 0 ? 0 : selectedIndex);
    overview->show();
    overview->raise();
    overview->activateWindow();
}

void Skywandtester::checkFromOverview(int index, const QString& wandId)
{
    if (index >= 0 && index < ui->cboSkywand->count())
        ui->cboSkywand->setCurrentIndex(index);
    openCheckWizard();
    // An open wizard between checks moves to this Skywand; one that is
    // checking keeps its own.
    if (checkWizard)
        checkWizard->setSkywand(index, wandId);
}

void Skywandtester::moveCheckToNextWand()
{
    // With the overview open the next Skywand without a check today is
    // proposed, with the wand id the lab gave it; without it the wizard
    // stays on its Skywand for the next wand put in its place.
    if (!checkWizard || !overview || overview->isHidden())
        return;
    const int index = overview->nextUncheckedIndex();
    if (index < 0)
        return;
    if (index < ui->cboSkywand->count())
        ui->cboSkywand->setCurrentIndex(index);
    checkWizard->setSkywand(index, overview->wandIdAt(index));
}

void Skywandtester::createCheckEntry()
{
    auto* tools = new QMenu(QStringLiteral("&Tools"), this);
    tools->setObjectName(QStringLiteral("menuTools"));
    QAction* action = tools->addAction(QStringLiteral("Check Skywand..."));
    action->setObjectName(QStringLiteral("actionCheckSkywand"));
    action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_K));
    connect(action, &QAction::triggered, this,
            [this] { withoutThrowing("Check Skywand", [this] { openCheckWizard(); }); });
    menuBar()->insertMenu(ui->menu_Help->menuAction(), tools);
}

void Skywandtester::openCheckWizard()
{
    // One check at a time; the wizard checks the Skywand selected when it
    // opened and is deleted when it closes.
    int configured = 0;
    if (!checkWizard && !configuredPort(&configured)) {
        refuseCheck(QStringLiteral("portRefused"),
                    QStringLiteral("The check does not start: it needs the data port. %1")
                        .arg(noPortExplanation()));
        return;
    }
    if (!checkWizard) {
        // Read anew each time, so that the lab's latest limits apply. A
        // profile that does not load stops the check rather than letting it
        // judge by limits the lab did not choose.
        CheckProfile profile;
        std::string error;
        if (!profilePath.isEmpty() &&
            !profile.load(QFile::encodeName(profilePath).toStdString(), error)) {
            refuseCheck(QStringLiteral("profileRefused"),
                        QStringLiteral("The check does not start: its profile does not load "
                                       "(%1). Choose another one, or the default limits, in "
                                       "Settings, Check profile.")
                            .arg(QString::fromLocal8Bit(error.c_str())));
            return;
        }
        // A port another program holds is the one the check waits on: it is
        // tried again until it opens.
        const int port = sdk && sdk->isValid() ? int(sdk->getDataPort()) : configured;
        checkWizard = new CheckWizard(selectedIndex < 0 ? 0 : selectedIndex, port, this);
        checkWizard->setProfile(profile, profilePath);
        checkWizard->setCheckStore(checkStoreUrl());
        checkWizard->setAttribute(Qt::WA_DeleteOnClose);
        // The check judges every frame, not only the newest one the panel
        // shows, so the receiver hands each one over as it arrives.
        if (receiver) {
            checkObservation = receiver->addFrameObserver(
                [inbox = checkWizard->inbox()](const TrackingSdk& source, int64_t waitStartUs) {
                    inbox->push(source, waitStartUs);
                });
            connect(checkWizard, &QObject::destroyed, this, [this] { checkObservation.reset(); });
        }
        connect(checkWizard, &CheckWizard::nextWandRequested, this,
                [this] { withoutThrowing("Check next wand", [this] { moveCheckToNextWand(); }); });
        checkWizard->setRemembered(reportFolder, operatorName, lastWandId);
        connect(checkWizard, &CheckWizard::reportFiled, this, [this] {
            const QString folder = checkWizard->reportFolder();
            reportFolder = folder == defaultReportFolder() ? QString() : folder;
            operatorName = checkWizard->operatorName();
            lastWandId = checkWizard->lastWandId();
            saveConfig();
        });
    }
    checkWizard->show();
    checkWizard->raise();
    checkWizard->activateWindow();
}

void Skywandtester::refuseCheck(const QString& name, const QString& reason)
{
    qDebug().noquote() << reason;
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Skywand tester"), reason,
                                QMessageBox::Ok, this);
    box->setObjectName(name);
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void Skywandtester::createProfileEntry()
{
    auto* action = new QAction(QStringLiteral("Check &profile..."), this);
    action->setObjectName(QStringLiteral("actionCheckProfile"));
    action->setStatusTip(QStringLiteral("Choose the limits the check judges a Skywand by"));
    connect(action, &QAction::triggered, this,
            [this] { withoutThrowing("Check profile", [this] { openCheckProfileDlg(); }); });
    ui->menuSettings->addAction(action);
}

void Skywandtester::openCheckProfileDlg()
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Check profile"),
                    QStringLiteral("The check judges a Skywand by %1.")
                        .arg(profilePath.isEmpty()
                                 ? QStringLiteral("the default limits")
                                 : QStringLiteral("the limits in %1")
                                       .arg(QDir::toNativeSeparators(profilePath))),
                    QMessageBox::Cancel, this);
    box.setTextFormat(Qt::PlainText);
    box.setInformativeText(QStringLiteral("A profile is the JSON file that kestrel-check "
                                          "--profile reads; keys it leaves out keep their "
                                          "default."));
    QPushButton* choose = box.addButton(QStringLiteral("&Choose file..."), QMessageBox::ActionRole);
    QPushButton* defaults =
        box.addButton(QStringLiteral("Use &default limits"), QMessageBox::ResetRole);
    defaults->setEnabled(!profilePath.isEmpty());
    box.exec();
    QString path;
    if (box.clickedButton() == choose) {
        path = QFileDialog::getOpenFileName(
            this, QStringLiteral("Check profile"), QFileInfo(profilePath).path(),
            QStringLiteral("Check profiles (*.json);;All files (*)"));
        if (path.isEmpty()) {
            return;
        }
    } else if (box.clickedButton() != defaults) {
        return;
    }
    QString error;
    if (!setCheckProfilePath(path, error)) {
        QMessageBox warning(QMessageBox::Warning, QStringLiteral("Check profile"),
                            QStringLiteral("This profile is not used: %1").arg(error),
                            QMessageBox::Ok, this);
        warning.setTextFormat(Qt::PlainText);
        warning.exec();
    }
}

bool Skywandtester::setCheckProfilePath(const QString& path, QString& error)
{
    if (path.isEmpty()) {
        profilePath.clear();
        saveConfig();
        return true;
    }
    const QString absolute = QFileInfo(path).absoluteFilePath();
    // The path stands on a line of its own in the configuration file.
    if (absolute.contains(QLatin1Char('\n')) || absolute.contains(QLatin1Char('\r')) ||
        absolute.contains(QChar(0))) {
        error = QStringLiteral("its path holds a line break, which the configuration file cannot "
                               "keep");
        return false;
    }
    if (absolute.toUtf8().size() > kMaxProfilePathBytes) {
        error = QStringLiteral("its path is longer than %1 bytes").arg(kMaxProfilePathBytes);
        return false;
    }
    CheckProfile profile;
    std::string why;
    if (!profile.load(QFile::encodeName(absolute).toStdString(), why)) {
        error = QString::fromLocal8Bit(why.c_str());
        return false;
    }
    profilePath = absolute;
    saveConfig();
    return true;
}

void Skywandtester::createStoreEntry()
{
    auto* action = new QAction(QStringLiteral("Check &records..."), this);
    action->setObjectName(QStringLiteral("actionCheckRecords"));
    action->setStatusTip(QStringLiteral("Choose where saved checks are stored"));
    connect(action, &QAction::triggered, this,
            [this] { withoutThrowing("Check records", [this] { openCheckStoreDlg(); }); });
    ui->menuSettings->addAction(action);
}

void Skywandtester::openCheckStoreDlg()
{
    CheckStoreDialog dialog(storeUrl, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    QString notice;
    QString error;
    const bool kept = setCheckStoreUrl(dialog.url(), notice, error);
    if (kept && notice.isEmpty())
        return;
    QMessageBox box(kept ? QMessageBox::Information : QMessageBox::Warning,
                    QStringLiteral("Check records"), kept ? notice : error, QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

QString Skywandtester::checkStoreUrl() const
{
    return storeUrl.isEmpty() ? QString::fromStdString(defaultCheckStoreUrl()) : storeUrl;
}

bool Skywandtester::setCheckStoreUrl(const QString& url, QString& notice, QString& error)
{
    notice.clear();
    bool hadPassword = false;
    QString kept = storeUrlWithoutPassword(url.trimmed(), &hadPassword);
    for (const QChar c : kept) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f) {
            error = QStringLiteral("The URL holds a line break or another control character, "
                                   "which the configuration file cannot keep.");
            return false;
        }
    }
    if (kept.toUtf8().size() > kMaxProfilePathBytes) {
        error = QStringLiteral("The URL is longer than %1 bytes.").arg(kMaxProfilePathBytes);
        return false;
    }
    if (kept == QString::fromStdString(defaultCheckStoreUrl()))
        kept.clear();
    storeUrl = kept;
    saveConfig();
    if (hadPassword)
        notice = QStringLiteral("The password is not kept in the configuration file: the check "
                                "records are opened as %1, and libpq takes the password from "
                                "~/.pgpass or the PGPASSWORD environment variable.")
                     .arg(checkStoreUrl());
    return true;
}

void Skywandtester::on_action_Help_triggered()
{
    withoutThrowing("Help", [] { HelpBrowser::openHelpPage(QStringLiteral("index.html")); });
}

void Skywandtester::on_actionWhat_s_this_triggered()
{
    QWhatsThis::enterWhatsThisMode();
}

void Skywandtester::openSettingsPortDlg()
{
    withoutThrowing("Port settings", [this] {
        SettingPortDlg dialog;
        dialog.setModal(true);
        dialog.lbl_port->setText(QString::fromLatin1(portText));
        dialog.show();
        if (dialog.exec() != 1) {
            return;
        }
        // The text is cut before it is checked, so the port taken is the one
        // that passed the check.
        const QString text = dialog.lbl_port->text().left(kPortTextMax);
        int value = 0;
        if (!SettingPortDlg::acceptedPort(text, &value)) {
            return;
        }
        // The same text restarts only an SDK whose port did not open.
        const QByteArray ascii = text.toLatin1();
        if (ascii == QByteArray(portText) && sdk && sdk->isValid()) {
            return;
        }
        setPortText(ascii);
        saveConfig();
        RestartDataReceiver();
    });
}

void Skywandtester::RestartDataReceiver()
{
    withoutThrowing("Restart", [this] {
        setStatus(statusText(ui->cboSkywand->currentIndex() + 1));
        receiver->onStop();
        receiver->quit();
        receiver->wait();
        portRetryTimer->stop();
        delete sdk;
        sdk = nullptr;
        // Nothing came from the new port yet.
        showNoFrame();
        createTrackingSdk();
        tellMonitorPort();
        receiver->setSdk(sdk);
        receiver->setFailurePauseUs(dataTimeoutUs);
        receiver->setRunning(true);
        if (sdk && sdk->isValid()) {
            receiver->start(QThread::InheritPriority);
        }
    });
}

void Skywandtester::onInfo()
{
    // The owner's two lines first; then what a bug report or a lost user
    // needs: the version the tools print with --version, and the manual.
    const QString manual =
        QDir::toNativeSeparators(QCoreApplication::applicationDirPath() + QStringLiteral("/doc"));
    QMessageBox::information(
        this, QStringLiteral("Skywandtester"),
        QStringLiteral("Skywand tester tool.\nBuilt for the lab's Skywand checks.\n\n"
                       "Version %1, built %2.\nThe manual (F1) is in %3.")
            .arg(QStringLiteral(SKYWAND_VERSION), QStringLiteral(SKYWAND_BUILD_DATE), manual),
        QMessageBox::Ok, QMessageBox::NoButton);
}

void Skywandtester::on_cboSkywand_currentIndexChanged(int index)
{
    withoutThrowing("Skywand selection", [this, index] {
        selectedIndex = index;
        setStatus(statusText(index + 1));
        if (monitor) {
            monitor->setChosenSkywand(index);
        }
        if (overview && index >= 0 && overview->selectedIndex() != index) {
            overview->setSelectedIndex(index);
        }
        if (!sdk || index < 0) {
            return;
        }
        buttonCount = sdk->getSkywand(index).numButton;
        // A Skywand with fewer than five buttons keeps all five labels on
        // show; those of buttons it lacks simply stay released. The joystick
        // value labels are never hidden. Label 4 further follows the
        // per-frame rule of showTrackingData().
        if (buttonCount >= 0) {
            for (int i = 0; i < 5; ++i) {
                skywandWidget->showLabel(i);
            }
        }
    });
}

void Skywandtester::onReceiveTrackingData()
{
    // While the panel was shown less than an interval ago, this notification
    // is answered when the interval is over: until then the receiver sends no
    // other, and the GUI thread sleeps through the frames between two paints
    // instead of waking for each. The check wizard takes every datagram from
    // its inbox whenever it drains, and the stream monitor counts every
    // datagram on the receiver's thread; its charts need only the newest.
    const qint64 elapsed = panelShown.isValid() ? panelShown.elapsed() : kPaintIntervalMs;
    if (elapsed < kPaintIntervalMs) {
        dataDeferred = true;
        if (!panelTimer->isActive()) {
            panelTimer->start(static_cast<int>(kPaintIntervalMs - elapsed));
        }
        return;
    }
    takeDataNotification();
    withoutThrowing("Tracking data", [this] { showPaced(); });
}

void Skywandtester::takeDataNotification()
{
    dataDeferred = false;
    // Cleared before the SDK is read: a frame decoded from now on is either
    // read here or announced anew.
    if (receiver) {
        receiver->dataNotificationHandled();
    }
    if (checkWizard) {
        withoutThrowing("Check Skywand", [this] { checkWizard->drainFrames(); });
    }
    withoutThrowing("Tracking data", [this] {
        if (monitor && sdk) {
            monitor->recordData(*sdk);
        }
    });
}

void Skywandtester::showPaced()
{
    // Setting the labels costs as much as painting them; a 1 kHz stream
    // need not set them more often than the panel is painted. The newest
    // frame is shown when the interval is over.
    const qint64 elapsed = panelShown.isValid() ? panelShown.elapsed() : kPaintIntervalMs;
    if (elapsed < kPaintIntervalMs) {
        if (!panelTimer->isActive()) {
            panelTimer->start(static_cast<int>(kPaintIntervalMs - elapsed));
        }
        return;
    }
    panelTimer->stop();
    panelShown.start();
    showTrackingData(sdk);
}

void Skywandtester::onReceiveTrackingDataError()
{
    if (receiver) {
        receiver->errorNotificationHandled();
    }
    withoutThrowing("Tracking data error", [this] {
        if (monitor && sdk) {
            monitor->recordError(*sdk);
        }
        // A frame still waiting to be shown would cover the error. Its
        // notification is answered all the same, or no other would come.
        panelTimer->stop();
        if (dataDeferred) {
            dataDeferred = false;
            if (receiver) {
                receiver->dataNotificationHandled();
            }
        }
        setDiagnoseShown(!showTrackingDataError(sdk));
        if (sdk && (sdk->isDataTimeout() || sdk->isDataNetError())) {
            showNoFrame();
        } else {
            showIfStale();
        }
    });
}

void Skywandtester::showNoFrame()
{
    showRecord(SkywandRecord{}, false);
    frameShown.invalidate();
}

void Skywandtester::showIfStale()
{
    // A frame among datagrams that fail to decode, or among another
    // program's, stays on show until it is as old as a data timeout.
    if (!frameShown.isValid() || frameShown.elapsed() * 1000 >= dataTimeoutUs) {
        showNoFrame();
    }
}

void Skywandtester::showTrackingData(TrackingSdk* source)
{
    if (!source) {
        return;
    }
    if (ui->cboSkywand->count() == 0) {
        selectedIndex = 0;
        fillSkywandSelector();
    }
    // A record the frame did not write holds what earlier frames left, and
    // the entries past a record's button and joystick counts likewise: the
    // panel shows neither.
    // Another program's datagrams decode as an empty frame; the status line
    // says so instead of looking as if all were well.
    source->getLastDatagram(lastDatagram);
    if (!lastDatagram.controllerLines) {
        const Endpoint sender{lastDatagram.sourceAddress, lastDatagram.sourcePort};
        setStatus(QStringLiteral("datagrams without tracking data arrive from %1")
                      .arg(QString::fromStdString(endpointText(sender))));
        setDiagnoseShown(true);
        showIfStale();
        return;
    }
    setDiagnoseShown(false);
    SkywandRecord record;
    const bool tracked = source->getCurrentSkywand(selectedIndex, record);
    setStatus(statusText(ui->cboSkywand->currentIndex() + 1, tracked));
    showRecord(record, tracked);
    frameShown.start();
}

void Skywandtester::showRecord(const SkywandRecord& record, bool tracked)
{
    skywandWidget->setEnabled(tracked);

    if (record.numButton >= 7) {
        skywandWidget->hideLabel(4);
        skywandWidget->setJoystickPressEnabled(false);
    } else {
        skywandWidget->showLabel(4);
        skywandWidget->setJoystickPressEnabled(true);
    }
    for (int i = 0; i <= 5; ++i) {
        const bool pressed = tracked && i < record.numButton && record.button[i] == 1;
        if (i == 5) {
            skywandWidget->setJoystickPressed(pressed);
        } else {
            const QString& pressStyle = pressed ? kStylePressed : kStyleReleased;
            skywandWidget->setLabelStyle(i, tracked ? pressStyle : kStyleNotTracked);
        }
    }
    const double x = tracked && record.numJoystick > 0 ? record.joystickValue[0] : 0.0;
    const double y = tracked && record.numJoystick > 1 ? record.joystickValue[1] : 0.0;
    skywandWidget->setJoystickX(x);
    skywandWidget->setJoystickY(y);
    skywandWidget->setLabelStyle(6, tracked ? kStyleValue : kStyleValueNotTracked);
    skywandWidget->setLabelStyle(5, tracked ? kStyleValue : kStyleValueNotTracked);
    skywandWidget->setLabelValue(6, x);
    skywandWidget->setLabelValue(5, y);
}

bool Skywandtester::showTrackingDataError(TrackingSdk* source)
{
    if (!source) {
        return true;
    }
    QString text;
    if (source->isDataTimeout()) {
        text = QStringLiteral("timeout while waiting for tracking data");
    } else if (source->isDataNetError()) {
        text = QStringLiteral("error while receiving tracking data");
    } else if (source->isDataParseError()) {
        text = QStringLiteral("error while parsing tracking data");
    } else {
        return true;
    }
    qDebug().noquote() << text;
    setStatus(text);
    return false;
}

bool Skywandtester::checkMayGo()
{
    bool mayGo = true;
    withoutThrowing("Check Skywand",
                    [this, &mayGo] { mayGo = !checkWizard || checkWizard->mayDiscardCheck(); });
    return mayGo;
}

void Skywandtester::closeEvent(QCloseEvent* event)
{
    if (!checkMayGo()) {
        event->ignore();
        return;
    }
    // Saved or discarded: the wizard goes with the window, without asking.
    if (checkWizard)
        checkWizard->close();
    QMainWindow::closeEvent(event);
}

void Skywandtester::onActionExit()
{
    if (!checkMayGo())
        return;
    portRetryTimer->stop();
    stopReceiver();
    QApplication::quit();
}

// The configuration file: the port text alone, beside the executable.
QString Skywandtester::configFilePath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/skywandtester.config");
}

void Skywandtester::loadConfig()
{
    const QString path = configFilePath();
    QByteArray content;
    switch (loadConfigFile(path, &content)) {
    case ConfigFileKind::Missing:
        saveConfig();
        return;
    case ConfigFileKind::Other: {
        // Said once here; every later save is refused without a word.
        configSaveWarned = true;
        const QString text =
            QStringLiteral("%1 is not a regular file: it is left untouched, and port %2 is used")
                .arg(path, QString::fromLatin1(portText));
        qDebug().noquote() << text;
        QMessageBox::warning(this, QStringLiteral("Skywand tester"), text, QMessageBox::Ok,
                             QMessageBox::NoButton);
        return;
    }
    case ConfigFileKind::Regular: {
        const ConfigContent config = parseConfig(content);
        setPortText(QString::fromUtf8(config.portText).toLatin1());
        profilePath = config.profilePath;
        // A password written into the file by hand is not used either: it
        // belongs in ~/.pgpass, and the file is no place for it.
        storeUrl = storeUrlWithoutPassword(config.storeUrl);
        wandIds = config.wandIds;
        reportFolder = config.reportFolder;
        operatorName = config.operatorName;
        lastWandId = config.lastWandId;
        return;
    }
    }
}

void Skywandtester::saveConfig()
{
    ConfigContent config;
    config.portText = QString::fromLatin1(portText).toUtf8();
    config.profilePath = profilePath;
    config.storeUrl = storeUrl;
    config.reportFolder = reportFolder;
    config.operatorName = operatorName;
    config.lastWandId = lastWandId;
    config.wandIds = wandIds;
    saveConfigFile(configFilePath(), composeConfig(config), &configSaveWarned);
}
