#include "checkstoredialog.h"

#include "checkstore.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// Where the authority of a PostgreSQL URL ends, or -1 for another URL.
qsizetype authorityEnd(const QString& url, qsizetype& begin)
{
    if (!url.startsWith(QLatin1String("postgresql://")) &&
        !url.startsWith(QLatin1String("postgres://")))
        return -1;
    begin = url.indexOf(QLatin1String("://")) + 3;
    qsizetype end = begin;
    while (end < url.size() && url[end] != QLatin1Char('/') && url[end] != QLatin1Char('?'))
        ++end;
    return end;
}

} // namespace

QString storeUrlWithoutPassword(const QString& url, bool* hadPassword)
{
    bool found = false;
    QString out = url;
    qsizetype begin = 0;
    const qsizetype end = authorityEnd(url, begin);
    if (end >= 0) {
        // The last '@' of the authority, so that a password holding an
        // unescaped '@' goes whole.
        const qsizetype at = out.lastIndexOf(QLatin1Char('@'), end - 1);
        const qsizetype colon = out.indexOf(QLatin1Char(':'), begin);
        if (at >= begin && colon >= 0 && colon < at) {
            out.remove(colon, at - colon);
            found = true;
        }
        const qsizetype query = out.indexOf(QLatin1Char('?'));
        if (query >= 0) {
            QStringList kept;
            for (const QString& parameter : out.mid(query + 1).split(QLatin1Char('&'))) {
                if (parameter.startsWith(QLatin1String("password=")))
                    found = true;
                else
                    kept.append(parameter);
            }
            out = out.left(query);
            if (!kept.isEmpty())
                out += QLatin1Char('?') + kept.join(QLatin1Char('&'));
        }
    }
    if (hadPassword)
        *hadPassword = found;
    return out;
}

CheckStoreDialog::CheckStoreDialog(const QString& url, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Check records"));
    setObjectName(QStringLiteral("CheckStoreDialog"));
    auto* layout = new QVBoxLayout(this);
    auto* intro = new QLabel(
        QStringLiteral("Every saved check is stored in these records, and the check compares "
                       "with the wand's previous check there. sqlite:PATH is a file on this "
                       "computer; postgresql://user@host[:port]/dbname is a server that several "
                       "benches share. A password is not kept here: libpq reads it from "
                       "~/.pgpass or PGPASSWORD."),
        this);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    urlEdit = new QLineEdit(url, this);
    urlEdit->setObjectName(QStringLiteral("storeUrlEdit"));
    const QString fallback = QString::fromStdString(defaultCheckStoreUrl());
    urlEdit->setPlaceholderText(fallback);
    urlEdit->setMinimumWidth(fontMetrics().horizontalAdvance(fallback) + 40);
    layout->addWidget(urlEdit);
    auto* defaults = new QLabel(QStringLiteral("Empty: the default, %1").arg(fallback), this);
    defaults->setTextFormat(Qt::PlainText);
    defaults->setWordWrap(true);
    layout->addWidget(defaults);
    auto* buttons = new QDialogButtonBox(
        QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::RestoreDefaults, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons->button(QDialogButtonBox::RestoreDefaults), &QPushButton::clicked, urlEdit,
            &QLineEdit::clear);
    layout->addWidget(buttons);
}

QString CheckStoreDialog::url() const
{
    return urlEdit->text().trimmed();
}
