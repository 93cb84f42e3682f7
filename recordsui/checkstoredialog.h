#pragma once

// Settings, "Check records...": where the checks are stored, as a URL.

#include <QDialog>
#include <QString>

class QLineEdit;

// The URL without a password in its user part or a "password=" parameter,
// as the configuration file keeps it; *hadPassword tells whether one was
// taken out. libpq finds the password in ~/.pgpass or PGPASSWORD instead.
QString storeUrlWithoutPassword(const QString& url, bool* hadPassword = nullptr);

class CheckStoreDialog : public QDialog
{
    Q_OBJECT

public:
    // url: the records in use; empty for the default ones.
    explicit CheckStoreDialog(const QString& url, QWidget* parent = nullptr);

    // As typed, trimmed; empty for the default records.
    QString url() const;

private:
    QLineEdit* urlEdit;
};
