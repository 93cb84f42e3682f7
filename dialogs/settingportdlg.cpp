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
    connect(lbl_port, &QLineEdit::textChanged, this, [this] { showRange(); });
    showRange();
}

SettingPortDlg::~SettingPortDlg() = default;

bool SettingPortDlg::acceptedPort(const QString& text, int* port)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok || value < kLowestPort || value > kHighestPort) {
        return false;
    }
    *port = value;
    return true;
}

void SettingPortDlg::showRange()
{
    // Said before OK is pressed, since OK with other text closes the dialog
    // and changes nothing.
    int port = 0;
    const bool taken = acceptedPort(lbl_port->text(), &port);
    const QString range = QStringLiteral("%1 to %2").arg(kLowestPort).arg(kHighestPort);
    lbl_range->setText(taken ? QStringLiteral("Ports %1").arg(range)
                             : QStringLiteral("Not a port from %1: OK changes nothing").arg(range));
    QPalette palette = lbl_range->palette();
    palette.setColor(QPalette::WindowText, taken ? this->palette().color(QPalette::WindowText)
                                                 : QColor(0xb0, 0x00, 0x20));
    lbl_range->setPalette(palette);
}
