#include "settingportdlg.h"
#include "ui_skywandtester.h"

#include <QAction>
#include <QMainWindow>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

namespace {

const QString kIconPath = QStringLiteral(":/Skywandtester/Resources/kestrel.ico");

bool hasIconSizes(const QIcon& icon)
{
    const QList<QSize> sizes = icon.availableSizes();
    return sizes.contains(QSize(16, 16)) && sizes.contains(QSize(32, 32));
}

QString propertyText(const QObject* object, const char* property)
{
    const QVariant value = object->property(property);
    if (value.metaType() == QMetaType::fromType<QKeySequence>())
        return value.value<QKeySequence>().toString(QKeySequence::PortableText);
    return value.toString();
}

// A window with the slots the form connects by name.
class NamedSlotsWindow : public QMainWindow
{
    Q_OBJECT

public:
    int helpCalls = 0;
    int whatsThisCalls = 0;
    QList<int> selectedIndices;

private slots:
    void on_action_Help_triggered() { ++helpCalls; }
    void on_actionWhat_s_this_triggered() { ++whatsThisCalls; }
    void on_cboSkywand_currentIndexChanged(int index) { selectedIndices << index; }
};

} // namespace

static void initIconResource()
{
    Q_INIT_RESOURCE(Skywandtester);
}

class TestForms : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { initIconResource(); }
    void mainFormObjects_data();
    void mainFormObjects();
    void mainFormTexts_data();
    void mainFormTexts();
    void mainFormNameAndIcon();
    void mainFormLayout();
    void mainFormMenus();
    void mainFormShortcuts_data();
    void mainFormShortcuts();
    void mainFormConnectsByName();

    void portDialogTexts_data();
    void portDialogTexts();
    void portDialogFormAndCast();
    void portDialogLayoutOrder();
    void portDialogButtons_data();
    void portDialogButtons();
};

void TestForms::mainFormObjects_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("type");
    const QList<QPair<QString, QString>> objects = {{"action_exit", "QAction"},
                                                    {"action_port", "QAction"},
                                                    {"action_info", "QAction"},
                                                    {"actionWhat_s_this", "QAction"},
                                                    {"action_Help", "QAction"},
                                                    {"centralWidget", "QWidget"},
                                                    {"verticalLayout", "QVBoxLayout"},
                                                    {"gridLayout", "QGridLayout"},
                                                    {"label", "QLabel"},
                                                    {"cboSkywand", "QComboBox"},
                                                    {"frame_main", "QFrame"},
                                                    {"menuBar", "QMenuBar"},
                                                    {"menu_File", "QMenu"},
                                                    {"menuSettings", "QMenu"},
                                                    {"menu_Help", "QMenu"},
                                                    {"statusBar", "QStatusBar"}};
    for (const auto& [name, type] : objects)
        QTest::newRow(qPrintable(name)) << name << type;
}

void TestForms::mainFormObjects()
{
    QFETCH(QString, name);
    QMainWindow window;
    Ui::SkywandtesterClass ui;
    ui.setupUi(&window);
    const QObject* object = window.findChild<QObject*>(name);
    QVERIFY2(object, qPrintable(name));
    QTEST(QString::fromLatin1(object->metaObject()->className()), "type");
}

void TestForms::mainFormTexts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<QString>("text");
    struct Row
    {
        const char* name;
        const char* property;
        const char* text;
    };
    const Row rows[] = {
        {"SkywandtesterClass", "windowTitle", "Skywandtester"},
        {"SkywandtesterClass", "whatsThis", "Skywand tester tool"},
        {"action_exit", "text", "E&xit"},
        {"action_exit", "statusTip", "Exit"},
        {"action_exit", "whatsThis", "Exit"},
        {"action_exit", "shortcut", "Q"},
        {"action_port", "text", "&Port settings"},
        {"action_port", "statusTip", "Port settings"},
        {"action_port", "whatsThis", "Open port settings dialog"},
        {"action_port", "shortcut", "F2"},
        {"action_info", "text", "&About"},
        {"action_info", "iconText", "About"},
        {"action_info", "toolTip", "About"},
        {"action_info", "statusTip", "About"},
        {"action_info", "whatsThis", "Open about dialog"},
        {"action_info", "shortcut", ""},
        {"actionWhat_s_this", "text", "&What's this?"},
        {"actionWhat_s_this", "shortcut", ""},
        {"action_Help", "text", "&Help"},
        {"action_Help", "shortcut", "F1"},
        {"label", "text", "Skywand nr.:"},
        {"cboSkywand", "toolTip", "Select skywand number"},
        {"cboSkywand", "whatsThis", "Select skywand number"},
        {"frame_main", "toolTip", "Display for skywand joystick and buttons"},
        {"frame_main", "whatsThis", "Display for skywand joystick and buttons"},
        {"menu_File", "title", "&File"},
        {"menuSettings", "title", "&Settings"},
        {"menu_Help", "title", "&Help"},
    };
    for (const Row& row : rows)
        QTest::addRow("%s %s", row.name, row.property)
            << QString::fromLatin1(row.name) << QByteArray(row.property)
            << QString::fromLatin1(row.text);
}

void TestForms::mainFormTexts()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, property);
    QMainWindow window;
    Ui::SkywandtesterClass ui;
    ui.setupUi(&window);
    const QObject* object =
        window.objectName() == name ? &window : window.findChild<QObject*>(name);
    QVERIFY(object);
    QTEST(propertyText(object, property.constData()), "text");
}

void TestForms::mainFormNameAndIcon()
{
    QMainWindow window;
    Ui::SkywandtesterClass ui;
    ui.setupUi(&window);
    QCOMPARE(window.objectName(), QStringLiteral("SkywandtesterClass"));
    QCOMPARE(window.size(), QSize(328, 475));
    QVERIFY(hasIconSizes(window.windowIcon()));
    QVERIFY(hasIconSizes(QIcon(kIconPath)));
    for (QAction* action : window.findChildren<QAction*>())
        QVERIFY2(action->icon().isNull(), qPrintable(action->objectName()));

    QMainWindow named;
    named.setObjectName("mainWindow");
    Ui::SkywandtesterClass namedUi;
    namedUi.setupUi(&named);
    QCOMPARE(named.objectName(), QStringLiteral("mainWindow"));
}

void TestForms::mainFormLayout()
{
    QMainWindow window;
    Ui::SkywandtesterClass ui;
    ui.setupUi(&window);
    QCOMPARE(window.centralWidget(), ui.centralWidget);
    QCOMPARE(window.menuBar(), ui.menuBar);
    QCOMPARE(window.statusBar(), ui.statusBar);
    QCOMPARE(ui.centralWidget->layout(), ui.verticalLayout);
    QCOMPARE(ui.verticalLayout->spacing(), 6);
    QCOMPARE(ui.verticalLayout->contentsMargins(), QMargins(11, 11, 11, 11));
    QCOMPARE(ui.verticalLayout->itemAt(0)->layout(), ui.gridLayout);
    QCOMPARE(ui.gridLayout->spacing(), 6);

    auto cell = [&](QLayoutItem* item) {
        int row = -1, column = -1, rowSpan = -1, columnSpan = -1;
        ui.gridLayout->getItemPosition(ui.gridLayout->indexOf(item), &row, &column, &rowSpan,
                                       &columnSpan);
        return QList<int>{row, column, rowSpan, columnSpan};
    };
    auto positionOf = [&](QWidget* w) {
        int row = -1, column = -1, rowSpan = -1, columnSpan = -1;
        ui.gridLayout->getItemPosition(ui.gridLayout->indexOf(w), &row, &column, &rowSpan,
                                       &columnSpan);
        return QList<int>{row, column, rowSpan, columnSpan};
    };
    QCOMPARE(positionOf(ui.label), QList<int>({0, 0, 1, 1}));
    QCOMPARE(positionOf(ui.cboSkywand), QList<int>({0, 1, 1, 1}));
    QCOMPARE(positionOf(ui.frame_main), QList<int>({1, 0, 1, 3}));
    QCOMPARE(cell(ui.spacerItem), QList<int>({0, 2, 1, 1}));
    QCOMPARE(ui.spacerItem->sizeHint(), QSize(40, 20));
    QCOMPARE(ui.spacerItem->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(ui.frame_main->frameShape(), QFrame::StyledPanel);
    QCOMPARE(ui.frame_main->frameShadow(), QFrame::Sunken);
}

void TestForms::mainFormMenus()
{
    QMainWindow window;
    Ui::SkywandtesterClass ui;
    ui.setupUi(&window);
    QCOMPARE(ui.menuBar->actions(),
             QList<QAction*>({ui.menu_File->menuAction(), ui.menuSettings->menuAction(),
                              ui.menu_Help->menuAction()}));
    QCOMPARE(ui.menu_File->actions(), QList<QAction*>({ui.action_exit}));
    QCOMPARE(ui.menuSettings->actions(), QList<QAction*>({ui.action_port}));
    const QList<QAction*> help = ui.menu_Help->actions();
    QCOMPARE(help.size(), 4);
    QCOMPARE(help[0], ui.action_Help);
    QCOMPARE(help[1], ui.actionWhat_s_this);
    QVERIFY(help[2]->isSeparator());
    QCOMPARE(help[3], ui.action_info);
}

void TestForms::mainFormShortcuts_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("action");
    QTest::newRow("Q exits") << int(Qt::Key_Q) << "action_exit";
    QTest::newRow("F2 port") << int(Qt::Key_F2) << "action_port";
    QTest::newRow("F1 help") << int(Qt::Key_F1) << "action_Help";
}

// A plain key press, without modifiers, triggers exactly its action.
void TestForms::mainFormShortcuts()
{
    QFETCH(int, key);
    QFETCH(QString, action);
    QMainWindow window;
    Ui::SkywandtesterClass ui;
    ui.setupUi(&window);
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    QList<QAction*> actions = {ui.action_exit, ui.action_port, ui.action_info, ui.actionWhat_s_this,
                               ui.action_Help};
    QList<QSignalSpy*> spies;
    for (QAction* a : actions)
        spies << new QSignalSpy(a, &QAction::triggered);

    QTest::keyClick(&window, Qt::Key(key));
    for (int i = 0; i < actions.size(); ++i)
        QCOMPARE(spies[i]->count(), actions[i]->objectName() == action ? 1 : 0);
    qDeleteAll(spies);
}

void TestForms::mainFormConnectsByName()
{
    NamedSlotsWindow window;
    Ui::SkywandtesterClass ui;
    ui.setupUi(&window);
    ui.action_Help->trigger();
    ui.actionWhat_s_this->trigger();
    ui.cboSkywand->addItem("F1");
    ui.cboSkywand->addItem("F2");
    ui.cboSkywand->setCurrentIndex(1);
    QCOMPARE(window.helpCalls, 1);
    QCOMPARE(window.whatsThisCalls, 1);
    QCOMPARE(window.selectedIndices, QList<int>({0, 1}));
}

void TestForms::portDialogTexts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<QString>("text");
    struct Row
    {
        const char* name;
        const char* property;
        const char* text;
    };
    const Row rows[] = {
        {"SettingPortDlgClass", "windowTitle", "Port Settings"},
        {"SettingPortDlgClass", "whatsThis", "Settings dialog"},
        {"label", "text", "Port:"},
        {"lbl_port", "toolTip", "Input port"},
        {"lbl_port", "whatsThis", "Input port"},
        {"btn_ok", "toolTip", "Accept changes and close dialog"},
        {"btn_ok", "whatsThis", "Accept changes and close dialog"},
        {"btn_ok", "text", "OK"},
        {"btn_cancel", "toolTip", "Discard changes and close dialog"},
        {"btn_cancel", "whatsThis", "Discard changes and close dialog"},
        {"btn_cancel", "text", "Cancel"},
    };
    for (const Row& row : rows)
        QTest::addRow("%s %s", row.name, row.property)
            << QString::fromLatin1(row.name) << QByteArray(row.property)
            << QString::fromLatin1(row.text);
}

void TestForms::portDialogTexts()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, property);
    SettingPortDlg dialog;
    const QObject* object =
        dialog.objectName() == name ? &dialog : dialog.findChild<QObject*>(name);
    QVERIFY(object);
    QTEST(propertyText(object, property.constData()), "text");
}

void TestForms::portDialogFormAndCast()
{
    SettingPortDlg dialog;
    QCOMPARE(dialog.objectName(), QStringLiteral("SettingPortDlgClass"));
    QCOMPARE(dialog.size(), QSize(329, 101));
    QVERIFY(hasIconSizes(dialog.windowIcon()));
    QCOMPARE(dialog.parent(), nullptr);

    QCOMPARE(dialog.qt_metacast("SettingPortDlg"), static_cast<void*>(&dialog));
    QCOMPARE(dialog.qt_metacast("Ui::SettingPortDlgClass"),
             static_cast<void*>(static_cast<Ui::SettingPortDlgClass*>(&dialog)));
    QCOMPARE(dialog.qt_metacast("QDialog"), static_cast<void*>(&dialog));
    QCOMPARE(dialog.qt_metacast("Unrelated"), nullptr);

    // The field takes any text: the window checks it after OK.
    QCOMPARE(dialog.lbl_port->validator(), nullptr);
    QCOMPARE(dialog.lbl_port->inputMask(), QString());
    const QString longText(300, QLatin1Char('9'));
    dialog.lbl_port->setText(longText);
    QCOMPARE(dialog.lbl_port->text(), longText);
}

void TestForms::portDialogLayoutOrder()
{
    SettingPortDlg dialog;
    QCOMPARE(dialog.layout(), dialog.verticalLayout);
    QCOMPARE(dialog.verticalLayout->spacing(), 6);
    QCOMPARE(dialog.verticalLayout->contentsMargins(), QMargins(11, 11, 11, 11));
    QCOMPARE(dialog.verticalLayout->count(), 5);
    QCOMPARE(dialog.verticalLayout->itemAt(0)->layout(), dialog.horizontalLayout);
    QCOMPARE(dialog.verticalLayout->itemAt(1)->widget(), dialog.lbl_range);
    QVERIFY(dialog.verticalLayout->itemAt(2)->spacerItem());
    QCOMPARE(dialog.verticalLayout->itemAt(2)->sizeHint(), QSize(20, 9));
    QCOMPARE(dialog.verticalLayout->itemAt(3)->widget(), dialog.line);
    QCOMPARE(dialog.verticalLayout->itemAt(4)->layout(), dialog.horizontalLayout_2);
    QCOMPARE(dialog.line->frameShape(), QFrame::HLine);
    QCOMPARE(dialog.line->frameShadow(), QFrame::Sunken);

    QCOMPARE(dialog.horizontalLayout->count(), 3);
    QCOMPARE(dialog.horizontalLayout->itemAt(0)->widget(), dialog.label);
    QCOMPARE(dialog.horizontalLayout->itemAt(1)->sizeHint(), QSize(88, 17));
    QCOMPARE(dialog.horizontalLayout->itemAt(2)->widget(), dialog.lbl_port);

    QCOMPARE(dialog.horizontalLayout_2->count(), 3);
    QCOMPARE(dialog.horizontalLayout_2->itemAt(0)->sizeHint(), QSize(40, 20));
    QCOMPARE(dialog.horizontalLayout_2->itemAt(1)->widget(), dialog.btn_ok);
    QCOMPARE(dialog.horizontalLayout_2->itemAt(2)->widget(), dialog.btn_cancel);
}

void TestForms::portDialogButtons_data()
{
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("result");
    QTest::newRow("OK accepts") << true << int(QDialog::Accepted);
    QTest::newRow("Cancel rejects") << false << int(QDialog::Rejected);
}

// Runs the dialog modally as the window does, types a port and clicks a
// button; the text stays readable after exec() returns.
void TestForms::portDialogButtons()
{
    QFETCH(bool, ok);
    SettingPortDlg dialog;
    dialog.setModal(true);
    dialog.lbl_port->setText("5000");
    QTimer::singleShot(0, &dialog, [&dialog, ok] {
        QTest::keyClick(dialog.lbl_port, Qt::Key_End);
        QTest::keyClicks(dialog.lbl_port, "1");
        QTest::mouseClick(ok ? dialog.btn_ok : dialog.btn_cancel, Qt::LeftButton);
    });
    QTEST(dialog.exec(), "result");
    QCOMPARE(dialog.lbl_port->text(), QStringLiteral("50001"));
    QVERIFY(!dialog.isVisible());
}

QTEST_MAIN(TestForms)
#include "tst_forms.moc"
