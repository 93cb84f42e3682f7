#pragma once

#include "checkhistory.h"
#include "checkreport.h"
#include "skywandcheck.h"

#include <QString>
#include <QStringList>
#include <QWizard>

#include <cstdint>
#include <functional>
#include <memory>

class CheckStore;
struct CheckRecord;
class CircleTraceView;
class CheckFeed;
class FrameInbox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class QWizardPage;

// The guided check of the Skywand chosen in the main window: who and which
// wand, then the four steps with the live state, then the verdict, its
// comparison with the wand's previous check and the saved report. The main
// window hands it every frame its receiver announces; the wizard never
// blocks the window behind it.
class CheckWizard : public QWizard
{
    Q_OBJECT

public:
    enum Page
    {
        IdentityPage,
        StepsPage,
        ResultPage
    };
    static constexpr int kMaxTypedLength = 200;
    // How often the live state is drawn and time passes for the check.
    static constexpr int kRefreshMs = 50;

    CheckWizard(int skywandIndex, int port, QWidget* parent = nullptr);
    ~CheckWizard() override;

    // Where the receiver thread puts every datagram, and the times nothing
    // arrived, while the wizard is open.
    std::shared_ptr<FrameInbox> inbox() const { return frames; }
    // Passes what waits in the inbox to the check, in the order and with the
    // times it arrived.
    void drainFrames();
    // Up to this long a datagram may wait before the receiver thread hands
    // it over; only what is older counts as silence without the receiver's
    // word (a receiver that does not run, for one).
    static constexpr int64_t kReceiverLagUs = 3000000;
    // One frame at the given time (seconds since the steps began).
    void feedFrame(uint32_t frameCounter, double time, const SkywandRecord* record);

    // The limits the check judges by and where they come from: the lab's
    // profile file, or empty for the default limits. Applies to the check
    // started next.
    void setProfile(const CheckProfile& profile, const QString& source);

    int skywandIndex() const { return index; }
    // Which Skywand (from 0) the next check judges, and the wand id it
    // proposes; the main window calls it in answer to nextWandRequested().
    // Ignored while a check runs and for an index beyond the frame's limit.
    void setSkywand(int index, const QString& proposedWandId);
    const SkywandCheck& check() const { return *engine; }
    QString reportFolder() const;
    void setReportFolder(const QString& folder);
    QString operatorName() const;
    // What the window kept from the last filed report: its folder (empty:
    // the default one), its operator, and its wand id, from which the next
    // wand id is proposed.
    void setRemembered(const QString& folder, const QString& operatorName,
                       const QString& lastWandId);
    // The wand id of the last report filed, empty before one is.
    QString lastWandId() const { return lastFiled; }
    // The id after wandId when it ends in a number ("SW-0042" gives
    // "SW-0043"), otherwise wandId itself.
    static QString nextWandId(const QString& wandId);

    // A check that runs, or a result that is not saved, would be lost if the
    // wizard went now.
    bool holdsUnsavedCheck() const { return checking || unsavedResult; }
    // Asks whether to save or discard such a check, or go back; true when
    // the wizard may go (saved or discarded, or nothing to lose), false when
    // the user went back or the save failed (its reason then shows on the
    // result page). A running check is stopped first: saved, it is filed as
    // incomplete.
    bool mayDiscardCheck();
    // Opens the check records that saving stores the check in and that the
    // previous check of the wand comes from (any bench). Records that do not
    // open leave the wizard with the report folder's files alone, and say
    // so.
    void setCheckStore(const QString& url);
    // JSON, HTML, PDF and the CSV row, then the check in the records; false
    // with the reason in error when the files could not be written. The
    // files stay when only the record failed; storeError() then says why.
    bool saveReports(QString& error);
    const QStringList& savedFiles() const { return saved; }
    // Empty when the saved check is in the records.
    QString storeError() const { return storeProblem; }
    // The records' warnings for the wand's wear, one line each, as shown.
    const QStringList& wearWarnings() const { return wear; }

    // Tests pass their own seconds instead of the steady clock.
    void setClockForTesting(std::function<double()> clock);

signals:
    // "Check next wand" saved the result and went back to the wand id page,
    // keeping the operator and the report folder.
    void nextWandRequested();
    // The report files of a check were written (its record may have failed).
    void reportFiled();

protected:
    void initializePage(int id) override;
    void done(int result) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWizardPage* createIdentityPage();
    QWizardPage* createStepsPage();
    QWizardPage* createResultPage();
    double now() const;
    void startCheck();
    void refresh();
    // Ends a running check as cancelled; it moves on to its incomplete result.
    void stopCheck();
    bool askToStop();
    void sizeFromFont();
    void showResult();
    void showComparison();
    void showWear();
    bool previousFromStore(CheckFigures& previous);
    CheckReportInfo reportInfo();
    bool currentRecord(CheckRecord& record);
    void chooseFolder();
    void onSave();
    void onNextWand();
    void showSkywand();

    int index;
    int checkedIndex; // the Skywand the current or last check judged
    int port;
    CheckProfile limits;
    std::unique_ptr<SkywandCheck> engine;
    std::function<double()> clock;
    std::shared_ptr<FrameInbox> frames;
    std::unique_ptr<CheckFeed> feed;
    int64_t startUs = 0; // wall clock; what arrived before the start is not judged
    bool checking = false;
    bool unsavedResult = false; // a finished check shown but not filed
    QString lastFiled;
    uint32_t heldBits = 0;
    QStringList saved;
    std::unique_ptr<CheckStore> store;
    QString storeName;
    QString storeOpenError; // why the records did not open, when they did not
    QString storeProblem;
    std::string checkId;
    bool stored = false;
    QStringList wear;

    QTimer* refreshTimer;
    QLineEdit* wandIdEdit = nullptr;
    QLineEdit* operatorEdit = nullptr;
    QLabel* sourceLabel = nullptr;
    QLabel* profileLabel = nullptr;
    QLabel* stepTitle = nullptr;
    QLabel* promptLabel = nullptr;
    QLabel* countdownLabel = nullptr;
    QLabel* dataLabel = nullptr;
    QList<QLabel*> buttonLabels;
    CircleTraceView* circleView = nullptr;
    QLabel* verdictLabel = nullptr;
    QLabel* failuresLabel = nullptr;
    QLabel* comparisonLabel = nullptr;
    QLabel* wearLabel = nullptr;
    QLineEdit* folderEdit = nullptr;
    QPushButton* saveButton = nullptr;
    QPushButton* nextWandButton = nullptr;
    QPushButton* openFolderButton = nullptr;
    QLabel* savedLabel = nullptr;
};
