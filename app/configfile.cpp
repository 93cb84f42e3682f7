// The configuration file: the port text alone, beside the executable.

#include "configfile.h"
#include "skywandtester.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QSaveFile>

namespace {

// Enough for the longest port text in any UTF-8 form with CR LF line ends;
// a larger hostile file is not read whole.
constexpr qint64 kMaxConfigBytes = 4096;

} // namespace

bool saveConfigFile(const QString& path, const QByteArray& content, bool* warned)
{
    QSaveFile file(path);
    // A folder that refuses new files (EACCES) makes QSaveFile open the file
    // itself; that write is not atomic, but it is the only one possible.
    file.setDirectWriteFallback(true);
    bool written = false;
    if (file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        if (file.write(content) != content.size()) {
            file.cancelWriting();
        }
        written = file.commit(); // false after cancelWriting(); closes either way
    }
    if (!written && !*warned) {
        *warned = true;
        qWarning().noquote()
            << QStringLiteral(
                   "Cannot write %1 (%2): a changed data port is lost when the program ends")
                   .arg(path, file.errorString());
    }
    return written;
}

QString Skywandtester::configFilePath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/skywandtester.config");
}

void Skywandtester::loadConfig()
{
    const QString path = configFilePath();
    QString text;
    QFile file(path);
    if (!file.exists()) {
        saveConfig();
        return;
    }
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        text = QString::fromUtf8(file.read(kMaxConfigBytes));
    }
    file.close();
    setPortText(text.toLatin1());
}

void Skywandtester::saveConfig()
{
    saveConfigFile(configFilePath(), QString::fromLatin1(portText).toUtf8(), &configSaveWarned);
}
