#include "joystickwidget.h"
#include "skywandwidget.h"
#include "ui_skywandwidget.h"

#include <QLabel>
#include <QLayout>
#include <QLocale>
#include <QtTest>

namespace {

const QString kReleased = QStringLiteral("background-color: lightgray; color: black;");
const QString kPressed = QStringLiteral("background-color: red; color: white;");
const QString kValue = QStringLiteral("background-color: white; color: black;;");

// Label object names in the order of the setters' index.
const QStringList kLabelNames = {"lbl_btn1", "lbl_btn2", "lbl_btn3", "lbl_btn4",
                                 "lbl_btn5", "lbl_joyV", "lbl_joyH"};

QLabel* label(const SkywandWidget& panel, const QString& name)
{
    return panel.findChild<QLabel*>(name);
}

} // namespace

class TestSkywandWidget : public QObject
{
    Q_OBJECT

private slots:
    void initialState_data();
    void initialState();
    void formLabelsAreDeclaredInFormOrder();
    void indexAddressesLabel_data();
    void indexAddressesLabel();
    void labelValueFormat_data();
    void labelValueFormat();
    void labelValueIgnoresLocale();
    void outOfRangeIndexIsIgnored();
    void rowsReadTopToBottom();
    void hiddenLabelLeavesRowToOthers();
    void pressForwardingSwitch();
    void joystickValuesReachIndicator();
    void unchangedStyleIsNotReapplied();
    void valueTextResizesPanel();
};

void TestSkywandWidget::initialState_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("style");
    for (int i = 0; i < 5; ++i)
        QTest::newRow(qPrintable(kLabelNames[i]))
            << kLabelNames[i] << QStringLiteral("Button %1").arg(i + 1) << kReleased;
    QTest::newRow("lbl_joyV") << "lbl_joyV"
                              << "0.00" << kValue;
    QTest::newRow("lbl_joyH") << "lbl_joyH"
                              << "0.00" << kValue;
}

void TestSkywandWidget::initialState()
{
    QFETCH(QString, name);
    SkywandWidget panel;
    QCOMPARE(panel.objectName(), QStringLiteral("ButtonWidgetClass"));
    QCOMPARE(panel.windowTitle(), QStringLiteral("ButtonWidget"));
    QLabel* l = label(panel, name);
    QVERIFY(l);
    QTEST(l->text(), "text");
    QTEST(l->styleSheet(), "style");

    auto* joystick = panel.findChild<JoystickWidget*>();
    QVERIFY(joystick);
    QVERIFY(!joystick->isPressed());
    QCOMPARE(joystick->currentGeometry().ringColor, QColor(Qt::black));
}

void TestSkywandWidget::formLabelsAreDeclaredInFormOrder()
{
    QWidget host;
    Ui::ButtonWidgetClass form;
    form.setupUi(&host);
    const QList<QLabel*> created = host.findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
    QStringList names;
    for (const QLabel* l : created)
        names << l->objectName();
    QCOMPARE(names, QStringList({"lbl_btn2", "lbl_btn3", "lbl_btn4", "lbl_btn5", "lbl_btn1",
                                 "lbl_joyV", "lbl_joyH"}));
    QCOMPARE(host.size(), QSize(310, 328));
    QCOMPARE(int(form.lbl_btn2->alignment()), 0x85);
    QCOMPARE(form.lbl_joyH->alignment(), Qt::AlignLeft);
}

void TestSkywandWidget::indexAddressesLabel_data()
{
    QTest::addColumn<int>("index");
    for (int i = 0; i < kLabelNames.size(); ++i)
        QTest::newRow(qPrintable(kLabelNames[i])) << i;
}

// Each setter reaches exactly the label of its index and no other.
void TestSkywandWidget::indexAddressesLabel()
{
    QFETCH(int, index);
    SkywandWidget panel;
    panel.show();
    panel.setLabelText(index, "marked");
    panel.setLabelStyle(index, kPressed);
    panel.hideLabel(index);
    for (int i = 0; i < kLabelNames.size(); ++i) {
        QLabel* l = label(panel, kLabelNames[i]);
        const bool target = i == index;
        QCOMPARE(l->text() == "marked", target);
        QCOMPARE(l->styleSheet() == kPressed, target);
        QCOMPARE(l->isVisible(), !target);
    }
    panel.showLabel(index);
    QVERIFY(label(panel, kLabelNames[index])->isVisible());
}

void TestSkywandWidget::labelValueFormat_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("horizontal") << 6 << 0.25 << "X = 0.25";
    QTest::newRow("vertical negative") << 5 << -1.0 << "Y = -1.00";
    QTest::newRow("horizontal zero") << 6 << 0.0 << "X = 0.00";
    QTest::newRow("rounded") << 6 << 0.996 << "X = 1.00";
    QTest::newRow("no padding") << 5 << 1234.5 << "Y = 1234.50";
    QTest::newRow("button 1 bare") << 0 << 3.14159 << "3.14";
    QTest::newRow("button 5 bare") << 4 << -0.5 << "-0.50";
}

void TestSkywandWidget::labelValueFormat()
{
    QFETCH(int, index);
    QFETCH(double, value);
    SkywandWidget panel;
    panel.setLabelValue(index, value);
    QTEST(label(panel, kLabelNames[index])->text(), "text");
}

void TestSkywandWidget::labelValueIgnoresLocale()
{
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    SkywandWidget panel;
    panel.setLabelValue(6, 0.25);
    QLocale::setDefault(previous);
    QCOMPARE(label(panel, "lbl_joyH")->text(), QStringLiteral("X = 0.25"));
}

void TestSkywandWidget::outOfRangeIndexIsIgnored()
{
    SkywandWidget panel;
    for (int index : {-1, 7, 1000}) {
        panel.setLabelText(index, "x");
        panel.setLabelValue(index, 1.0);
        panel.setLabelStyle(index, kPressed);
        panel.hideLabel(index);
        panel.showLabel(index);
    }
    for (int i = 0; i < 5; ++i)
        QCOMPARE(label(panel, kLabelNames[i])->text(), QStringLiteral("Button %1").arg(i + 1));
}

// Values on top, then the indicator, then buttons 5 4 3 2 in one row, then
// button 1 below them.
void TestSkywandWidget::rowsReadTopToBottom()
{
    SkywandWidget panel;
    panel.resize(310, 328);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    panel.layout()->activate();

    auto geometryOf = [&](const QString& name) { return label(panel, name)->geometry(); };
    const QRect joystick = panel.findChild<JoystickWidget*>()->geometry();

    QVERIFY(geometryOf("lbl_joyH").bottom() < geometryOf("lbl_joyV").top());
    QVERIFY(geometryOf("lbl_joyV").bottom() < joystick.top());
    QVERIFY(joystick.bottom() < geometryOf("lbl_btn5").top());

    const QStringList row = {"lbl_btn5", "lbl_btn4", "lbl_btn3", "lbl_btn2"};
    for (int i = 0; i < row.size(); ++i) {
        QCOMPARE(geometryOf(row[i]).top(), geometryOf("lbl_btn5").top());
        if (i > 0)
            QVERIFY(geometryOf(row[i - 1]).right() < geometryOf(row[i]).left());
    }
    QVERIFY(geometryOf("lbl_btn2").bottom() < geometryOf("lbl_btn1").top());
    QVERIFY(geometryOf("lbl_btn1").width() > geometryOf("lbl_btn2").width());
}

void TestSkywandWidget::hiddenLabelLeavesRowToOthers()
{
    SkywandWidget panel;
    panel.resize(310, 328);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    panel.layout()->activate();
    const int before = label(panel, "lbl_btn4")->width();

    panel.hideLabel(4);
    panel.layout()->activate();
    QVERIFY(!label(panel, "lbl_btn5")->isVisible());
    QVERIFY(label(panel, "lbl_btn4")->width() > before);
    QCOMPARE(label(panel, "lbl_btn4")->x(), label(panel, "lbl_joyH")->x());
}

void TestSkywandWidget::pressForwardingSwitch()
{
    SkywandWidget panel;
    auto* joystick = panel.findChild<JoystickWidget*>();

    panel.setJoystickPressed(true);
    QVERIFY(joystick->isPressed());

    panel.setJoystickPressEnabled(false);
    panel.setJoystickPressed(false);
    QVERIFY(joystick->isPressed()); // keeps the state it last received

    panel.setJoystickPressEnabled(true);
    QVERIFY(joystick->isPressed());
    panel.setJoystickPressed(false);
    QVERIFY(!joystick->isPressed());
}

void TestSkywandWidget::joystickValuesReachIndicator()
{
    SkywandWidget panel;
    auto* joystick = panel.findChild<JoystickWidget*>();
    panel.setJoystickX(0.25);
    panel.setJoystickY(-1.0);
    QCOMPARE(joystick->horizontalValue(), 0.25);
    QCOMPARE(joystick->verticalValue(), -1.0);
    // The value labels are the caller's business, not the indicator's.
    QCOMPARE(label(panel, "lbl_joyH")->text(), QStringLiteral("0.00"));
}

namespace {

// Counts the style changes a widget goes through.
class StyleChangeCounter : public QObject
{
public:
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::StyleChange)
            ++count;
        return false;
    }
};

} // namespace

void TestSkywandWidget::unchangedStyleIsNotReapplied()
{
    SkywandWidget panel;
    panel.show(); // a hidden widget is not re-polished
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    QLabel* button = label(panel, "lbl_btn3");
    StyleChangeCounter counter;
    button->installEventFilter(&counter);

    // Pressed, pressed again, released, released again: two changes.
    const QString styles[] = {kPressed, kPressed, kReleased, kReleased};
    const int changesAfter[] = {1, 1, 2, 2};
    for (int step = 0; step < 4; ++step) {
        panel.setLabelStyle(2, styles[step]);
        QCOMPARE(button->styleSheet(), styles[step]);
        QCOMPARE(counter.count, changesAfter[step]);
    }
}

// A new value lays the panel out only when its text asks for another size;
// one that does must still widen the panel, and narrow it again.
void TestSkywandWidget::valueTextResizesPanel()
{
    SkywandWidget panel;
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    const int narrow = panel.minimumSizeHint().width();
    QLabel* value = label(panel, "lbl_joyH");

    panel.setLabelValue(6, 1e30);
    panel.layout()->activate();
    QVERIFY(value->minimumSizeHint().width() > narrow);
    QVERIFY(panel.minimumSizeHint().width() > value->minimumSizeHint().width());
    panel.setLabelValue(6, 0.0);
    panel.layout()->activate();
    QCOMPARE(panel.minimumSizeHint().width(), narrow);
}

QTEST_MAIN(TestSkywandWidget)
#include "tst_skywandwidget.moc"
