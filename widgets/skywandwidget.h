#pragma once

#include <QString>
#include <QWidget>

#include <array>
#include <memory>

class JoystickWidget;
class QLabel;
namespace Ui {
class ButtonWidgetClass;
}

// Panel showing one Skywand: five button labels, the two joystick values and
// the joystick indicator. Every setter addresses a label by index: 0 to 4 are
// buttons 1 to 5, 5 is the vertical and 6 the horizontal joystick value.
class SkywandWidget : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kLabelCount = 7;

    explicit SkywandWidget(QWidget* parent = nullptr);
    ~SkywandWidget() override;

    void setLabelStyle(int index, const QString& styleSheet);
    void setLabelText(int index, const QString& text);
    void setLabelValue(int index, double value);
    void showLabel(int index);
    void hideLabel(int index);

    void setJoystickPressed(bool pressed);
    void setJoystickPressEnabled(bool enabled);
    void setJoystickX(double value);
    void setJoystickY(double value);

private:
    class PanelLayout;

    void initLabels();
    QLabel* labelAt(int index) const;

    std::unique_ptr<Ui::ButtonWidgetClass> ui;
    std::array<QLabel*, kLabelCount> labels{};
    QString styleReleased;
    QString stylePressed;
    QString styleValue;
    PanelLayout* panelLayout = nullptr;
    JoystickWidget* joystick = nullptr;
    bool joystickPressEnabled = false;
};
