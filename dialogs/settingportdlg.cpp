#include "settingportdlg.h"

// Q_INIT_RESOURCE may not be used inside a namespace, and the dialog's icon
// lives in a resource that a static library only links when it is referenced.
static void initIconResource()
{
    Q_INIT_RESOURCE(Skywandtester);
}

SettingPortDlg::SettingPortDlg(QWidget* parent) : QDialog(parent)
{
    initIconResource();
    setupUi(this);
}

SettingPortDlg::~SettingPortDlg() = default;
