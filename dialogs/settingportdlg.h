#pragma once

#include "ui_settingportdlg.h"

#include <QDialog>

// Modal dialog that collects the data port as text. The caller fills and reads
// the form's line edit lbl_port directly; the dialog takes any text and only
// says, under the field, whether the window will take it.
// moc lets qt_metacast answer to both "SettingPortDlg" and the form's class
// name "Ui::SettingPortDlgClass", because the form is a public base.
class SettingPortDlg : public QDialog, public Ui::SettingPortDlgClass
{
    Q_OBJECT

public:
    // The ports the window takes from the dialog; other text leaves the port
    // as it was.
    static constexpr int kLowestPort = 2;
    static constexpr int kHighestPort = 65534;

    explicit SettingPortDlg(QWidget* parent = nullptr);
    ~SettingPortDlg() override;

    // The port text names, read as a decimal number, when it is one the
    // window takes.
    static bool acceptedPort(const QString& text, int* port);

private:
    void showRange();
};
