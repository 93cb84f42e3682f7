// Reading and writing the configuration file, a regular file and nothing else.

#include "configfile.h"

#include "filehelpers.h"

#include <QBuffer>
#include <QDebug>
#include <QFile>
#include <QSaveFile>

namespace {

// Enough for the longest port text in any UTF-8 form with CR LF line ends
// and a profile path as long as the system allows; a larger hostile file is
// not read whole.
constexpr qint64 kMaxConfigBytes = 8192;
// What is read of the file for that: room for a carriage return before
// every line end.
constexpr size_t kMaxRawConfigBytes = 2 * kMaxConfigBytes;

// Start the lines after the port text: the profile's and the check
// records' URL. The port text before them may end with a line end of its
// own, which stays part of it as it always has.
const QByteArray kProfileKey = QByteArrayLiteral("\ncheck-profile=");
const QByteArray kStoreKey = QByteArrayLiteral("\ncheck-store=");
const QByteArray kWandKey = QByteArrayLiteral("\nwand-id=");
const QByteArray kFolderKey = QByteArrayLiteral("\nreport-folder=");
const QByteArray kOperatorKey = QByteArrayLiteral("\noperator=");
const QByteArray kLastWandKey = QByteArrayLiteral("\nlast-wand-id=");

// A value of a line of its own: without a line end, or not kept at all.
bool keepsOnOneLine(const QString& value)
{
    return !value.isEmpty() && !value.contains(QLatin1Char('\n')) &&
           !value.contains(QLatin1Char('\r'));
}

} // namespace

ConfigFileKind configFileKind(const QString& path)
{
    switch (pathKind(QFile::encodeName(path).toStdString())) {
    case PathKind::Missing:
        return ConfigFileKind::Missing;
    case PathKind::Other:
        return ConfigFileKind::Other;
    case PathKind::Regular:
    case PathKind::Unknown:
        // A folder that may not be searched hides the file; it then counts
        // as a file that does not open, and nothing reads or writes it.
        break;
    }
    return ConfigFileKind::Regular;
}

ConfigFileKind loadConfigFile(const QString& path, QByteArray* content)
{
    content->clear();
    const ConfigFileKind kind = configFileKind(path);
    if (kind != ConfigFileKind::Regular) {
        return kind;
    }
    // Checked again once open, since the path may have changed since it was
    // looked at. Read as text, as it always was: carriage returns go.
    ReadOptions options;
    options.maxBytes = kMaxRawConfigBytes;
    options.cutAtLimit = true;
    std::string raw;
    int errorCode = 0;
    const FileResult read =
        readRegularFile(QFile::encodeName(path).toStdString(), options, raw, errorCode);
    if (read == FileResult::NotRegular) {
        return ConfigFileKind::Other;
    }
    QByteArray bytes = QByteArray::fromStdString(raw);
    QBuffer buffer(&bytes);
    if (buffer.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *content = buffer.read(kMaxConfigBytes);
    }
    return kind;
}

bool saveConfigFile(const QString& path, const QByteArray& content, bool* warned)
{
    bool written = false;
    QString reason = QStringLiteral("not a regular file");
    if (configFileKind(path) != ConfigFileKind::Other) {
        // QSaveFile follows links: it replaces the target and keeps the link.
        QSaveFile file(path);
        // A folder that refuses new files (EACCES) makes QSaveFile open the
        // file itself; that write is not atomic, but it is the only one
        // possible.
        file.setDirectWriteFallback(true);
        if (file.open(QIODevice::WriteOnly | QIODevice::Text)) {
            if (file.write(content) != content.size()) {
                file.cancelWriting();
            }
            written = file.commit(); // false after cancelWriting(); closes either way
        }
        reason = file.errorString();
    }
    if (!written && !*warned) {
        *warned = true;
        qWarning().noquote()
            << QStringLiteral(
                   "Cannot write %1 (%2): a changed data port is lost when the program ends")
                   .arg(path, reason);
    }
    return written;
}

ConfigContent parseConfig(const QByteArray& content)
{
    ConfigContent config;
    qsizetype key = -1;
    for (const QByteArray& name :
         {kProfileKey, kStoreKey, kWandKey, kFolderKey, kOperatorKey, kLastWandKey}) {
        const qsizetype at = content.indexOf(name);
        if (at >= 0 && (key < 0 || at < key))
            key = at;
    }
    if (key < 0) {
        config.portText = content;
        return config;
    }
    config.portText = content.left(key);
    // The first line of each key counts; lines of other keys are left out.
    bool profileRead = false;
    bool storeRead = false;
    const auto readOnce = [](const QByteArray& line, const QByteArray& name, QString& value) {
        if (!value.isEmpty() || !line.startsWith(name.mid(1)))
            return false;
        value = QString::fromUtf8(line.mid(name.size() - 1)).trimmed();
        return true;
    };
    for (const QByteArray& line : content.mid(key + 1).split('\n')) {
        if (readOnce(line, kFolderKey, config.reportFolder) ||
            readOnce(line, kOperatorKey, config.operatorName) ||
            readOnce(line, kLastWandKey, config.lastWandId))
            continue;
        if (!profileRead && line.startsWith(kProfileKey.mid(1))) {
            config.profilePath = QString::fromUtf8(line.mid(kProfileKey.size() - 1));
            profileRead = true;
        } else if (!storeRead && line.startsWith(kStoreKey.mid(1))) {
            config.storeUrl = QString::fromUtf8(line.mid(kStoreKey.size() - 1)).trimmed();
            storeRead = true;
        } else if (line.startsWith(kWandKey.mid(1))) {
            // "wand-id=3:W-0042" names F3's wand; a malformed line, an index
            // out of range or a second line for the same index is left out.
            const QByteArray entry = line.mid(kWandKey.size() - 1);
            const qsizetype colon = entry.indexOf(':');
            bool ok = false;
            const int number = colon > 0 ? entry.left(colon).toInt(&ok) : 0;
            const QString id = QString::fromUtf8(entry.mid(colon + 1)).trimmed();
            if (ok && number >= 1 && number <= kMaxWandIds && !id.isEmpty() &&
                !config.wandIds.contains(number - 1))
                config.wandIds.insert(number - 1, id);
        }
    }
    return config;
}

QByteArray composeConfig(const ConfigContent& config)
{
    QByteArray lines;
    if (!config.profilePath.isEmpty())
        lines += kProfileKey.mid(1) + config.profilePath.toUtf8() + '\n';
    if (!config.storeUrl.isEmpty())
        lines += kStoreKey.mid(1) + config.storeUrl.toUtf8() + '\n';
    // Blanks around a value are not kept: the reader trims them.
    const QString folder = config.reportFolder.trimmed();
    const QString name = config.operatorName.trimmed();
    const QString lastWand = config.lastWandId.trimmed();
    if (keepsOnOneLine(folder))
        lines += kFolderKey.mid(1) + folder.toUtf8() + '\n';
    if (keepsOnOneLine(name))
        lines += kOperatorKey.mid(1) + name.toUtf8() + '\n';
    if (keepsOnOneLine(lastWand))
        lines += kLastWandKey.mid(1) + lastWand.toUtf8() + '\n';
    if (lines.isEmpty() && config.wandIds.isEmpty())
        return config.portText;
    QByteArray content = config.portText + '\n' + lines;
    for (auto it = config.wandIds.cbegin(); it != config.wandIds.cend(); ++it) {
        const QString id = it.value().trimmed();
        if (it.key() < 0 || it.key() >= kMaxWandIds || id.isEmpty() || id.contains(QChar('\n')))
            continue;
        content += kWandKey.mid(1) + QByteArray::number(it.key() + 1) + ':' + id.toUtf8() + '\n';
    }
    return content;
}
