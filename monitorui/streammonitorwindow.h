#pragma once

#include "diagnosis.h"
#include "parsefailure.h"
#include "streamhealth.h"
#include "stripbuffer.h"
#include "trackingsdk.h"

#include <QElapsedTimer>
#include <QWidget>

#include <array>
#include <memory>
#include <mutex>
#include <vector>

class DiagnoseWorker;
class QChart;
class QChartView;
class QComboBox;
class QLabel;
class QLayout;
class QLineSeries;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;
class QTimer;
class QValueAxis;

// A window beside the main one: the health of the incoming stream in a table,
// strip charts of the last 30 s of one Skywand, and the diagnosis of a stream
// that gives no usable data. While it wants frames, the receiver's thread
// feeds the health every receive outcome; the main window's slots feed the
// charts the newest frame. Table and charts are drawn on a timer, never per
// frame.
class StreamMonitorWindow : public QWidget
{
    Q_OBJECT

public:
    static constexpr double kSpan = 30.0;   // seconds the charts show
    static constexpr int kSlots = 3000;     // of 10 ms each across kSpan
    static constexpr int kRedrawMs = 100;   // 10 Hz
    static constexpr int kTableEvery = 3;   // redraws per table update
    static constexpr int kMaxSkywands = 64; // offered in the selector
    // One lane per button, as many as a Skywand can report.
    static constexpr int kButtonLanes = FrameLimits::kMaxSkywandButtons;
    static constexpr int kDiagnoseWaitMs = 3000;

    explicit StreamMonitorWindow(QWidget* parent = nullptr);
    ~StreamMonitorWindow() override;

    // The data port and whether it opened, for the diagnosis.
    void setPort(int port, bool opened);
    // No port is configured: the diagnosis says sentence at once instead of
    // watching a port. Lasts until the next setPort().
    void setNoPort(const QString& sentence);
    // The Skywand the diagnosis judges (0 for F1): the one chosen in the main
    // window. The charts show it too until another is picked here.
    void setChosenSkywand(int index);
    // The outcome of the receive that just ended, read from sdk, for the
    // health: on the receiving thread, once for every receive while the
    // window wants frames. Safe to call from any thread.
    void recordReceive(const TrackingSdk& sdk);
    // Whether the health needs every receive outcome: while the window is
    // open or a diagnosis runs. framesWanted tells each change.
    bool wantsFrames() const { return watching; }
    // The health as the table shows it, as it stands now.
    HealthFigures healthFigures() const { return figuresAt(now()); }
    // The newest frame for the charts, or the newest error for the
    // diagnosis, read from sdk on the GUI thread; ignored while the window
    // is closed and no diagnosis runs.
    void recordData(const TrackingSdk& sdk);
    void recordError(const TrackingSdk& sdk);

    bool isPaused() const;
    // The button lanes drawn: the shown Skywand's button count.
    int buttonLaneCount() const { return lanes; }
    // Every how many lanes one is numbered, so that the numbers of lanes
    // lanes on plotHeight pixels keep labelHeight apart: 1 when all fit.
    static int laneLabelStep(int lanes, double plotHeight, double labelHeight);
    // Redraws now, as the timer does.
    void refresh();

public slots:
    void diagnose();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

signals:
    // The user chose to listen on the port the diagnosis found.
    void switchPortRequested(int port);
    void framesWanted(bool wanted);

private:
    enum Chart
    {
        Position,
        Buttons,
        Quality,
        Age,
        ChartCount
    };

    double now() const;
    void setupUi();
    // The parts setupUi puts together: the selector and buttons above, the
    // health table, the charts and the diagnosis below them.
    QLayout* setupTopRow();
    void setupTable();
    QWidget* setupCharts();
    QWidget* setupDiagnosis();
    QChartView* addChart(Chart which, const QString& title, double low, double high);
    void updateCharts(double t);
    void updateTable(const HealthFigures& figures);
    void selectSkywand(int index);
    void finishDiagnosis();
    void showSkywandCount(int count);
    void showPortInTable();
    void clearDiagnosis();
    QSize initialSize() const;
    void setLaneCount(int count);
    void numberLanes();
    void updateWatching(bool shown);
    HealthFigures figuresAt(double t) const;

    QElapsedTimer clock;
    // The health is fed on the receiver's thread and read on this one.
    mutable std::mutex healthMutex;
    StreamHealth health;
    std::unique_ptr<StreamHealth> diagnosisHealth;
    bool watching = false;
    bool diagnosing = false;
    int port = 0;
    bool portOpened = false;
    int selected = 0;
    int chosen = 0;
    int lanes = 0;
    int labelStep = 0; // 0: the lanes need numbering anew
    QString noPortSentence;
    int redraws = 0;
    ParseFailure lastParseFailure;

    StripBuffer x;
    StripBuffer y;
    std::vector<StripBuffer> buttons;
    StripBuffer quality;
    StripBuffer age;
    std::vector<StripPoint> scratch;

    QComboBox* skywandBox = nullptr;
    QPushButton* pauseButton = nullptr;
    QPushButton* diagnoseButton = nullptr;
    QTableWidget* table = nullptr;
    std::array<QChartView*, ChartCount> views{};
    std::array<QValueAxis*, ChartCount> timeAxes{};
    QLineSeries* xSeries = nullptr;
    QLineSeries* ySeries = nullptr;
    std::array<QLineSeries*, kButtonLanes> buttonSeries{};
    QValueAxis* laneAxis = nullptr;
    QLineSeries* qualitySeries = nullptr;
    QLineSeries* ageSeries = nullptr;
    QLabel* sentence = nullptr;
    QPlainTextEdit* evidenceText = nullptr;
    QPushButton* switchButton = nullptr;
    int suggestedPort = 0;
    // The situation of the diagnosis on show; Unknown while none is.
    Situation shownSituation = Situation::Unknown;
    QTimer* redrawTimer = nullptr;
    QTimer* diagnoseTimer = nullptr;
    DiagnoseWorker* worker = nullptr;
};
