#pragma once

#include "ui_settingportdlg.h"

#include <QDialog>

// Modal dialog that collects the data port as text. The caller fills and reads
// the form's line edit lbl_port directly; the dialog checks nothing itself.
// moc lets qt_metacast answer to both "SettingPortDlg" and the form's class
// name "Ui::SettingPortDlgClass", because the form is a public base.
class SettingPortDlg : public QDialog, public Ui::SettingPortDlgClass
{
    Q_OBJECT

public:
    explicit SettingPortDlg(QWidget* parent = nullptr);
    ~SettingPortDlg() override;
};
