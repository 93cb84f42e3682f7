// Saving the port file where an installed program lives: the folder belongs
// to root and the file to everyone, so the save must fall back to writing in
// place, and a file that cannot be written is reported once. And only a
// regular file, or a link to one, is ever read or written.
//
// Every save runs in a child process. When the test runs as root, the child
// becomes "nobody" first, because permission bits do not stop root's writes;
// otherwise it keeps the caller's user. The folder and file modes of each row
// then decide what that user may do, as they would on a lab machine.

#include "configfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr uid_t kNobody = 65534;
constexpr QFileDevice::Permissions kEveryoneWrites =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
    QFileDevice::WriteGroup | QFileDevice::ReadOther | QFileDevice::WriteOther;

int warningCount = 0;

void countWarnings(QtMsgType type, const QMessageLogContext&, const QString&)
{
    if (type == QtWarningMsg) {
        ++warningCount;
    }
}

struct SaveOutcome
{
    bool firstSaved;
    bool secondSaved;
    int warnings;
};

// Saves content twice with one warning flag, as a window does over its life.
SaveOutcome saveTwiceAsUnprivileged(const QString& path, const QByteArray& content)
{
    const pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
            _exit(255);
        }
        qInstallMessageHandler(countWarnings);
        bool warned = false;
        const bool first = saveConfigFile(path, content, &warned);
        const bool second = saveConfigFile(path, content, &warned);
        _exit(int(first) | int(second) << 1 | qMin(warningCount, 7) << 2);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) == 255) {
        return {false, false, -1};
    }
    const int code = WEXITSTATUS(status);
    return {(code & 1) != 0, (code & 2) != 0, code >> 2};
}

} // namespace

Q_DECLARE_METATYPE(ConfigFileKind)

class TestConfigFile : public QObject
{
    Q_OBJECT

private slots:
    void save_data();
    void save();
    void onlyRegularFiles_data();
    void onlyRegularFiles();
    void profileBesideThePort_data();
    void profileBesideThePort();
    void wizardLinesBesideThePort();
};

void TestConfigFile::save_data()
{
    QTest::addColumn<bool>("folderWritable");
    QTest::addColumn<int>("fileMode"); // 0: no file
    QTest::addColumn<bool>("saved");
    QTest::addColumn<QByteArray>("contentAfter"); // empty: no file
    QTest::addColumn<bool>("sameFile");
    QTest::addColumn<int>("warnings");

    QTest::newRow("writable folder: replaced, mode kept")
        << true << 0666 << true << QByteArray("6001") << false << 0;
    QTest::newRow("writable folder, no file: created")
        << true << 0 << true << QByteArray("6001") << false << 0;
    QTest::newRow("root's folder, everyone's file: written in place")
        << false << 0666 << true << QByteArray("6001") << true << 0;
    QTest::newRow("root's folder, read-only file: kept, said once")
        << false << 0444 << false << QByteArray("123456") << true << 1;
    QTest::newRow("root's folder, no file: said once")
        << false << 0 << false << QByteArray() << false << 1;
}

void TestConfigFile::save()
{
    QFETCH(bool, folderWritable);
    QFETCH(int, fileMode);
    QFETCH(bool, saved);
    QFETCH(QByteArray, contentAfter);
    QFETCH(bool, sameFile);
    QFETCH(int, warnings);

    QTemporaryDir base;
    QVERIFY(base.isValid());
    QVERIFY(::chmod(QFile::encodeName(base.path()).constData(), 0755) == 0);
    const QString folder = base.filePath("program");
    const QString path = folder + "/skywandtester.config";
    QVERIFY(QDir().mkdir(folder));
    ino_t inodeBefore = 0;
    if (fileMode != 0) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("123456");
        file.close();
        QVERIFY(::chmod(QFile::encodeName(path).constData(), mode_t(fileMode)) == 0);
        struct stat info
        {
        };
        QVERIFY(::stat(QFile::encodeName(path).constData(), &info) == 0);
        inodeBefore = info.st_ino;
    }
    const auto folderName = QFile::encodeName(folder);
    QVERIFY(::chmod(folderName.constData(), folderWritable ? 0777 : 0555) == 0);

    const SaveOutcome outcome = saveTwiceAsUnprivileged(path, "6001");
    QVERIFY(::chmod(folderName.constData(), 0755) == 0);

    QVERIFY2(outcome.warnings >= 0, "the child process failed to run as an unprivileged user");
    QCOMPARE(outcome.firstSaved, saved);
    QCOMPARE(outcome.secondSaved, saved);
    QCOMPARE(outcome.warnings, warnings);
    QFile file(path);
    if (contentAfter.isEmpty()) {
        QVERIFY(!file.exists());
    } else {
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), contentAfter);
        struct stat info
        {
        };
        QVERIFY(::stat(QFile::encodeName(path).constData(), &info) == 0);
        if (sameFile) {
            QCOMPARE(info.st_ino, inodeBefore);
        }
        if (fileMode == 0666) {
            QCOMPARE(QFileInfo(path).permissions() & kEveryoneWrites, kEveryoneWrites);
        }
    }
    // No temporary file of an atomic save is left behind.
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(),
             contentAfter.isEmpty() ? 0 : 1);
}

void TestConfigFile::onlyRegularFiles_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<ConfigFileKind>("kind");

    QTest::newRow("regular file") << "file" << ConfigFileKind::Regular;
    QTest::newRow("link to a regular file") << "link to file" << ConfigFileKind::Regular;
    QTest::newRow("dangling link") << "link to nothing" << ConfigFileKind::Other;
    QTest::newRow("FIFO") << "fifo" << ConfigFileKind::Other;
    QTest::newRow("link to a FIFO") << "link to fifo" << ConfigFileKind::Other;
    QTest::newRow("directory") << "directory" << ConfigFileKind::Other;
}

// Reading a FIFO would block until a writer comes (the test then times out);
// writing would replace the FIFO, the link or the device with a file.
void TestConfigFile::onlyRegularFiles()
{
    QFETCH(QString, what);
    QFETCH(ConfigFileKind, kind);

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString path = folder.filePath("skywandtester.config");
    const QString target = folder.filePath("target");
    const bool link = what.startsWith("link");
    const QString made = link ? target : path;
    if (what.endsWith("file")) {
        QFile file(made);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("5000\r\n");
    } else if (what.endsWith("fifo")) {
        QVERIFY(::mkfifo(QFile::encodeName(made).constData(), 0644) == 0);
    } else if (what == "directory") {
        QVERIFY(QDir().mkdir(made));
    }
    if (link) {
        QVERIFY(QFile::link(target, path));
    }
    struct stat before
    {
    };
    QVERIFY(::lstat(QFile::encodeName(path).constData(), &before) == 0);

    QByteArray content = "stale";
    QCOMPARE(loadConfigFile(path, &content), kind);
    QCOMPARE(content, kind == ConfigFileKind::Regular ? QByteArray("5000\n") : QByteArray());

    bool warned = false;
    QCOMPARE(saveConfigFile(path, "6001", &warned), kind == ConfigFileKind::Regular);
    QCOMPARE(warned, kind != ConfigFileKind::Regular);
    struct stat after
    {
    };
    QVERIFY(::lstat(QFile::encodeName(path).constData(), &after) == 0);
    // A link stays a link, a FIFO a FIFO; only a file's content changes.
    QCOMPARE(after.st_mode & S_IFMT, before.st_mode & S_IFMT);
    QFile written(path);
    if (kind == ConfigFileKind::Regular) {
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), QByteArray("6001"));
    }
    QCOMPARE(QFileInfo::exists(target), link && what != "link to nothing");
}

void TestConfigFile::profileBesideThePort_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("portText");
    QTest::addColumn<QString>("profilePath");
    QTest::addColumn<bool>("rewrittenAsRead");
    QTest::addColumn<QString>("storeUrl");
    QTest::addColumn<QString>("wandIds"); // index=id;...

    QTest::newRow("port alone") << QByteArray("5000") << QByteArray("5000") << QString() << true
                                << QString() << QString();
    QTest::newRow("port and its line end") << QByteArray("5000\n") << QByteArray("5000\n")
                                           << QString() << true << QString() << QString();
    QTest::newRow("port and profile")
        << QByteArray("5000\ncheck-profile=/lab/limits.json\n") << QByteArray("5000")
        << QStringLiteral("/lab/limits.json") << true << QString() << QString();
    QTest::newRow("port with line end and profile")
        << QByteArray("5000\n\ncheck-profile=/lab/limits.json\n") << QByteArray("5000\n")
        << QStringLiteral("/lab/limits.json") << true << QString() << QString();
    QTest::newRow("profile without line end")
        << QByteArray("5000\ncheck-profile=/lab/a b.json") << QByteArray("5000")
        << QStringLiteral("/lab/a b.json") << false << QString() << QString();
    QTest::newRow("later lines left out")
        << QByteArray("5000\ncheck-profile=/p.json\nnext=1\n") << QByteArray("5000")
        << QStringLiteral("/p.json") << false << QString() << QString();
    QTest::newRow("profile in UTF-8")
        << QByteArray("5000\ncheck-profile=/lab/gr\xc3\xbc\xc3\x9f.json\n") << QByteArray("5000")
        << QStringLiteral("/lab/gr\u00fc\u00df.json") << true << QString() << QString();
    QTest::newRow("empty profile: the defaults")
        << QByteArray("5000\ncheck-profile=\n") << QByteArray("5000") << QString() << false
        << QString() << QString();
    QTest::newRow("profile and store")
        << QByteArray("5000\ncheck-profile=/p.json\ncheck-store=postgresql://ann@lab/checks\n")
        << QByteArray("5000") << QStringLiteral("/p.json") << true
        << QStringLiteral("postgresql://ann@lab/checks") << QString();
    QTest::newRow("store alone") << QByteArray("5000\ncheck-store=sqlite:/lab/c.sqlite\n")
                                 << QByteArray("5000") << QString() << true
                                 << QStringLiteral("sqlite:/lab/c.sqlite") << QString();
    QTest::newRow("store before profile")
        << QByteArray("5000\ncheck-store=sqlite:/c\r\ncheck-profile=/p.json\n")
        << QByteArray("5000") << QStringLiteral("/p.json") << false << QStringLiteral("sqlite:/c")
        << QString();
    QTest::newRow("wand ids") << QByteArray("5000\nwand-id=1:W-0001\nwand-id=3:shelf B: 7\n")
                              << QByteArray("5000") << QString() << true << QString()
                              << QStringLiteral("0=W-0001;2=shelf B: 7");
    QTest::newRow("wand ids: bad lines and a second line of an index left out")
        << QByteArray("5000\ncheck-store=sqlite:/c\nwand-id=0:x\nwand-id=1001:x\nwand-id=2:"
                      "\nwand-id=a:x\nwand-id=2: B \r\nwand-id=2:C\n")
        << QByteArray("5000") << QString() << false << QStringLiteral("sqlite:/c")
        << QStringLiteral("1=B");
}

// The profile's path follows the port text on a line of its own; a file
// without one keeps the format it always had, line end and all.
void TestConfigFile::profileBesideThePort()
{
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, portText);
    QFETCH(QString, profilePath);
    QFETCH(bool, rewrittenAsRead);
    QFETCH(QString, storeUrl);
    QFETCH(QString, wandIds);
    const auto describe = [](const QMap<int, QString>& ids) {
        QStringList out;
        for (auto it = ids.cbegin(); it != ids.cend(); ++it)
            out << QString::number(it.key()) + '=' + it.value();
        return out.join(';');
    };
    const ConfigContent config = parseConfig(content);
    QCOMPARE(describe(config.wandIds), wandIds);
    QCOMPARE(config.portText, portText);
    QCOMPARE(config.profilePath, profilePath);
    QCOMPARE(config.storeUrl, storeUrl);
    QCOMPARE(composeConfig(config) == content, rewrittenAsRead);
    const ConfigContent again = parseConfig(composeConfig(config));
    QCOMPARE(again.portText, portText);
    QCOMPARE(again.profilePath, profilePath);
    QCOMPARE(again.storeUrl, storeUrl);
    QCOMPARE(again.wandIds, config.wandIds);
}

// The check wizard's folder, operator and last wand id come back as written,
// after the port text kept byte for byte; a value with a line end in it is
// not kept rather than split into a line of its own.
void TestConfigFile::wizardLinesBesideThePort()
{
    ConfigContent config;
    config.portText = "5000 ";
    config.reportFolder = QStringLiteral("/lab/réports");
    config.operatorName = QStringLiteral("Ann Lee");
    config.lastWandId = QStringLiteral("SW-0042");
    config.wandIds.insert(2, QStringLiteral("W-7"));
    const QByteArray written = composeConfig(config);
    QVERIFY(written.startsWith("5000 \n"));
    const ConfigContent read = parseConfig(written);
    QCOMPARE(read.portText, config.portText);
    QCOMPARE(read.reportFolder, config.reportFolder);
    QCOMPARE(read.operatorName, config.operatorName);
    QCOMPARE(read.lastWandId, config.lastWandId);
    QCOMPARE(read.wandIds, config.wandIds);
    config.operatorName = QStringLiteral("Ann\ncheck-store=sqlite:/elsewhere");
    QCOMPARE(parseConfig(composeConfig(config)).operatorName, QString());
    QCOMPARE(parseConfig(composeConfig(config)).storeUrl, QString());
}

QTEST_GUILESS_MAIN(TestConfigFile)
#include "tst_configfile.moc"
