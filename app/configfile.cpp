// The configuration file: the port text alone, beside the executable.

#include "skywandtester.h"

#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>

namespace {

// Enough for the longest port text in any UTF-8 form with CR LF line ends;
// a larger hostile file is not read whole.
constexpr qint64 kMaxConfigBytes = 4096;

// Replaces the file in one step, so a crash while saving never leaves it
// empty or half written. Returns false when nothing was replaced.
bool writeReplacing(const QString& path, const QByteArray& content)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        return false;
    }
    if (file.write(content) != content.size()) {
        file.cancelWriting();
        file.commit();
        return false;
    }
    return file.commit();
}

} // namespace

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
    // Failures are not reported: the setting is then lost at exit.
    writeReplacing(configFilePath(), QString::fromLatin1(portText).toUtf8());
}
