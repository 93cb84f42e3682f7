#pragma once

#include "trackingsdk.h"
#include "trackreceiver.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QMap>
#include <QPointer>
#include <QString>

#include <memory>

class CheckWizard;
class QByteArray;
class QLabel;
class QPushButton;
class QTimer;
class QVBoxLayout;
class SkywandWidget;
class StreamMonitorWindow;
class CheckHistoryWindow;
class OverviewWindow;
class TrackingSdk;
namespace Ui {
class SkywandtesterClass;
}

// The main window: owns the SDK on the configured data port, the receiver
// thread that drives it and the panel that shows the selected Skywand.
class Skywandtester : public QMainWindow
{
    Q_OBJECT

public:
    // portText keeps at most this many characters; longer text is cut.
    static constexpr int kPortTextMax = 199;

    explicit Skywandtester(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~Skywandtester() override;

    // The full path of the configuration file beside the executable.
    static QString configFilePath();

    // Lets tests shorten the SDK's data timeout (1 s otherwise) so that
    // silence and stops show within a fraction of a second. Applies to SDKs
    // created afterwards.
    static void setDataTimeoutUsForTesting(int microseconds);

    // The lab's check profile that the check wizard judges by; empty for the
    // default limits.
    QString checkProfilePath() const { return profilePath; }
    // Chooses the profile file at path (empty: the default limits) and keeps
    // the choice in the configuration file. False, with the reason in error
    // and nothing changed, when the file does not load or its path cannot be
    // kept there.
    bool setCheckProfilePath(const QString& path, QString& error);
    // The check records that saved checks go to: the configured URL, or the
    // default records when none is configured.
    QString checkStoreUrl() const;
    // Keeps url (empty: the default records) in the configuration file
    // without its password; notice then says where the password is taken
    // from. False, with the reason in error and nothing changed, for a URL
    // that the file cannot keep.
    bool setCheckStoreUrl(const QString& url, QString& notice, QString& error);

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    void on_action_Help_triggered();
    void on_actionWhat_s_this_triggered();
    void openSettingsPortDlg();
    void RestartDataReceiver();
    void onInfo();
    void on_cboSkywand_currentIndexChanged(int index);
    void onReceiveTrackingData();
    void onReceiveTrackingDataError();
    void onActionExit();

private:
    void createTrackingSdk();
    QSize minimumWindowSize() const;
    void showTrackingData(TrackingSdk* sdk);
    void showRecord(const SkywandRecord& record, bool tracked);
    // Without a current frame the panel looks as it does for a Skywand the
    // frame does not track, never as if the last frame were still live.
    void showNoFrame();
    void showIfStale();
    bool showTrackingDataError(TrackingSdk* sdk);
    void connectActions();
    void fillSkywandSelector();
    void setupStatusAndPanel();
    void startReceiver();
    void loadConfig();
    void saveConfig();

    TrackingSdk* newTrackingSdk(int port);
    // The port the port text names, when it names one from 1 to 65535.
    bool configuredPort(int* port) const;
    void retryDataPort();
    // For a port text that names no port: the explanation under the panel,
    // in the debug output and the Diagnose button.
    void showNoPort();
    // Why no port is used and how to set one: the configuration file's
    // path, the text it holds and the port dialog.
    QString noPortExplanation() const;
    // The port the stream monitor diagnoses, or that there is none.
    void tellMonitorPort();
    void setPortText(const QByteArray& text);
    QString statusText(int skywandNumber, bool tracked = true) const;
    void setStatus(const QString& text);
    void stopReceiver();
    // Tools, "Check Skywand...": the guided check of the selected Skywand.
    void createCheckEntry();
    void openCheckWizard();
    // Says, in a box of that object name, why the check does not start.
    void refuseCheck(const QString& name, const QString& reason);
    // Settings, "Check profile...": a file chooser and a way back to the
    // default limits.
    void createProfileEntry();
    void openCheckProfileDlg();
    // Settings, "Check records...": the store's URL.
    void createStoreEntry();
    void openCheckStoreDlg();

    // The stream monitor and the Diagnose button of the status area.
    void createMonitorEntries();
    void openStreamMonitor();
    // View, "Check history": the stored checks and a wand's figures.
    void openCheckHistory();
    // View, "All Skywands": a tile for every Skywand of the stream.
    void openOverview();
    // Selects the Skywand at index and starts the check wizard on it with
    // wandId filled in.
    void checkFromOverview(int index, const QString& wandId);
    void moveCheckToNextWand();
    void setDiagnoseShown(bool shown);
    void switchToPort(int port);
    // Shows the newest frame at most once per paint interval.
    void showPaced();
    void takeDataNotification();

    std::unique_ptr<Ui::SkywandtesterClass> ui;
    char portText[kPortTextMax + 1];
    QString version;
    int selectedIndex;
    int buttonCount;
    TrackingSdk* sdk;
    TrackReceiver* receiver;
    QLabel* statusLabel;
    SkywandWidget* skywandWidget;
    QVBoxLayout* panelLayout;
    bool configSaveWarned = false;
    QTimer* portRetryTimer = nullptr;
    QPointer<CheckWizard> checkWizard;
    QString profilePath;
    QString storeUrl; // without a password; empty: the default records
    StreamMonitorWindow* monitor = nullptr;
    // The check's and the monitor's frame observers on the receiver.
    TrackReceiver::Observation checkObservation;
    TrackReceiver::Observation monitorObservation;
    QPointer<CheckHistoryWindow> history;
    OverviewWindow* overview = nullptr;
    TrackReceiver::Observation overviewObservation;
    // The wand ids the overview's tiles were given, by index (F1 is 0).
    QMap<int, QString> wandIds;
    // What the check wizard filed last: its folder (empty: the default), its
    // operator and its wand id, proposed again at the next start.
    QString reportFolder;
    QString operatorName;
    QString lastWandId;
    // False when a check the wizard holds is to be kept: the user went back.
    bool checkMayGo();
    QPushButton* diagnoseButton = nullptr;
    QLabel* portNotice = nullptr;
    QTimer* panelTimer = nullptr;
    QElapsedTimer panelShown;
    // Since the panel last showed a frame; invalid while it shows none.
    QElapsedTimer frameShown;
    // A data notification waits for panelTimer to be answered.
    bool dataDeferred = false;
    ReceivedDatagram lastDatagram;
};
