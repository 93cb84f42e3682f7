#include "skywandwidget.h"

#include "joystickwidget.h"
#include "ui_skywandwidget.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {
constexpr int kVerticalValueIndex = 5;
constexpr int kHorizontalValueIndex = 6;
constexpr int kButtonLabelCount = 5;
} // namespace

// The panel's outer layout. A label's new text makes Qt lay the whole window
// out anew, which costs more than painting the label, even when the text
// asks for no other size. While the panel sets a value it holds that request
// back and passes it on only if the label's size hints changed; with the
// same hints the layout would place every widget where it is.
class SkywandWidget::PanelLayout : public QVBoxLayout
{
public:
    explicit PanelLayout(QWidget* parent) : QVBoxLayout(parent) {}

    void setTextHoldingLayout(QLabel* label, const QString& text)
    {
        const QSize hint = label->sizeHint();
        const QSize minimum = label->minimumSizeHint();
        holding = true;
        label->setText(text);
        holding = false;
        if (held) {
            held = false;
            if (label->sizeHint() != hint || label->minimumSizeHint() != minimum)
                invalidate();
        }
    }

    void invalidate() override
    {
        if (holding) {
            held = true;
            return;
        }
        QVBoxLayout::invalidate();
    }

private:
    bool holding = false;
    bool held = false;
};

SkywandWidget::SkywandWidget(QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::ButtonWidgetClass>())
{
    ui->setupUi(this);

    auto* outer = new PanelLayout(this);
    panelLayout = outer;

    auto* values = new QVBoxLayout;
    values->addWidget(ui->lbl_joyH);
    values->addWidget(ui->lbl_joyV);
    outer->addLayout(values);
    outer->addStretch(0);

    joystick = new JoystickWidget;
    auto* indicator = new QHBoxLayout;
    indicator->addWidget(joystick);
    outer->addLayout(indicator);
    outer->addStretch(0);

    auto* buttonRow = new QHBoxLayout;
    buttonRow->addWidget(ui->lbl_btn5);
    buttonRow->addWidget(ui->lbl_btn4);
    buttonRow->addWidget(ui->lbl_btn3);
    buttonRow->addWidget(ui->lbl_btn2);
    outer->addLayout(buttonRow);

    auto* lastRow = new QHBoxLayout;
    lastRow->addWidget(ui->lbl_btn1);
    outer->addLayout(lastRow);

    initLabels();
    joystickPressEnabled = true;
}

SkywandWidget::~SkywandWidget() = default;

void SkywandWidget::initLabels()
{
    styleReleased = QStringLiteral("background-color: lightgray; color: black;");
    stylePressed = QStringLiteral("background-color: red; color: white;");
    styleValue = QStringLiteral("background-color: white; color: black;;");

    labels = {ui->lbl_btn1, ui->lbl_btn2, ui->lbl_btn3, ui->lbl_btn4,
              ui->lbl_btn5, ui->lbl_joyV, ui->lbl_joyH};

    for (int i = 0; i < kButtonLabelCount; ++i) {
        labels[i]->setStyleSheet(styleReleased);
        labels[i]->setText(QStringLiteral("Button %1").arg(i + 1));
    }
    for (int i = kButtonLabelCount; i < kLabelCount; ++i) {
        labels[i]->setStyleSheet(styleValue);
        labels[i]->setText(QStringLiteral("0.00"));
    }
}

// An index outside the table is a caller's mistake; it is ignored rather than
// allowed to touch memory beyond the table.
QLabel* SkywandWidget::labelAt(int index) const
{
    if (index < 0 || index >= kLabelCount)
        return nullptr;
    return labels[static_cast<std::size_t>(index)];
}

void SkywandWidget::setLabelStyle(int index, const QString& styleSheet)
{
    // Qt re-polishes a label on every setStyleSheet, even with the sheet it
    // already has, at tens of microseconds a time; most frames repeat the
    // last style. The label's own sheet is the record of the last style.
    QLabel* label = labelAt(index);
    if (label && label->styleSheet() != styleSheet)
        label->setStyleSheet(styleSheet);
}

// Only a changed text reaches the label: the panel sets its values with
// every frame shown, and most frames repeat some of them.
void SkywandWidget::setLabelText(int index, const QString& text)
{
    QLabel* label = labelAt(index);
    if (label && label->text() != text)
        panelLayout->setTextHoldingLayout(label, text);
}

void SkywandWidget::setLabelValue(int index, double value)
{
    const QString number = QStringLiteral("%1").arg(value, 0, 'f', 2, QLatin1Char(' '));
    if (index == kVerticalValueIndex)
        setLabelText(index, QStringLiteral("Y = ") + number);
    else if (index == kHorizontalValueIndex)
        setLabelText(index, QStringLiteral("X = ") + number);
    else
        setLabelText(index, number);
}

void SkywandWidget::showLabel(int index)
{
    if (QLabel* label = labelAt(index))
        label->show();
}

void SkywandWidget::hideLabel(int index)
{
    if (QLabel* label = labelAt(index))
        label->hide();
}

void SkywandWidget::setJoystickPressed(bool pressed)
{
    if (joystickPressEnabled)
        joystick->setPressed(pressed);
}

void SkywandWidget::setJoystickPressEnabled(bool enabled)
{
    joystickPressEnabled = enabled;
}

void SkywandWidget::setJoystickX(double value)
{
    joystick->setValueX(value);
}

void SkywandWidget::setJoystickY(double value)
{
    joystick->setValueY(value);
}
