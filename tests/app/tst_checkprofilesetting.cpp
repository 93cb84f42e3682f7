// Settings, "Check profile...": the lab's limits chosen in the window, kept in
// the configuration file, read again when the check wizard starts, and shown
// in the wizard. A file that does not load is refused when chosen, and stops
// the check when it no longer loads at its start.

#include "checkstore.h"
#include "checkwizard.h"
#include "framesender.h"
#include "skywandtester.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <sys/stat.h>

namespace {

QByteArray readConfig()
{
    QFile file(Skywandtester::configFilePath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Puts what kind names at path; a link points at target.
bool make(const QString& kind, const QString& path, const QString& target)
{
    auto write = [](const QString& at, const QByteArray& content) {
        QFile file(at);
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
               file.write(content) == content.size();
    };
    if (kind == "good")
        return write(path, "{\"maxOffset\": 0.2}");
    if (kind == "link")
        return write(target, "{\"maxOffset\": 0.2}") && QFile::link(target, path);
    if (kind == "dangling link")
        return QFile::link(target, path);
    if (kind == "folder")
        return QDir().mkpath(path);
    if (kind == "fifo")
        return ::mkfifo(QFile::encodeName(path).constData(), 0644) == 0;
    if (kind == "huge") {
        // Sparse: a gibibyte on paper, nothing on the disk.
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.resize(qint64(1) << 30);
    }
    if (kind == "not json")
        return write(path, "maxOffset = 0.2");
    if (kind == "out of range")
        return write(path, "{\"minCoverage\": 2}");
    return kind == "missing";
}

} // namespace

class TestCheckProfileSetting : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void profileInForce_data();
    void profileInForce();
    void storeUrlWithoutPassword_data();
    void storeUrlWithoutPassword();
};

void TestCheckProfileSetting::cleanup()
{
    QFile::remove(Skywandtester::configFilePath());
}

void TestCheckProfileSetting::profileInForce_data()
{
    QTest::addColumn<QString>("kind");    // what stands at the chosen path
    QTest::addColumn<QString>("name");    // the chosen file's name
    QTest::addColumn<QString>("later");   // what replaces it before the check starts
    QTest::addColumn<QString>("chosen");  // a part of the refusal, empty when taken
    QTest::addColumn<QString>("atStart"); // a part of the refusal, empty when it starts

    QTest::newRow("file") << "good"
                          << "lab.json"
                          << ""
                          << ""
                          << "";
    QTest::newRow("link to a file") << "link"
                                    << "lab.json"
                                    << ""
                                    << ""
                                    << "";
    QTest::newRow("folder") << "folder"
                            << "lab.json"
                            << ""
                            << "not a regular file"
                            << "";
    QTest::newRow("fifo") << "fifo"
                          << "lab.json"
                          << ""
                          << "not a regular file"
                          << "";
    QTest::newRow("huge") << "huge"
                          << "lab.json"
                          << ""
                          << "larger than 65536 bytes"
                          << "";
    QTest::newRow("not json") << "not json"
                              << "lab.json"
                              << ""
                              << "not valid JSON"
                              << "";
    QTest::newRow("out of range") << "out of range"
                                  << "lab.json"
                                  << ""
                                  << "\"minCoverage\" must be"
                                  << "";
    QTest::newRow("missing") << "missing"
                             << "lab.json"
                             << ""
                             << "No such file"
                             << "";
    QTest::newRow("dangling link") << "dangling link"
                                   << "lab.json"
                                   << ""
                                   << "No such file"
                                   << "";
    QTest::newRow("line break in the name") << "good"
                                            << "lab\ncheck-profile=x.json"
                                            << ""
                                            << "line break"
                                            << "";
    QTest::newRow("removed later") << "good"
                                   << "lab.json"
                                   << "missing"
                                   << ""
                                   << "No such file";
    QTest::newRow("a folder later") << "good"
                                    << "lab.json"
                                    << "folder"
                                    << ""
                                    << "not a regular file";
    QTest::newRow("a fifo later") << "good"
                                  << "lab.json"
                                  << "fifo"
                                  << ""
                                  << "not a regular file";
    QTest::newRow("out of range later") << "good"
                                        << "lab.json"
                                        << "out of range"
                                        << ""
                                        << "\"minCoverage\" must be";
}

void TestCheckProfileSetting::profileInForce()
{
    QFETCH(QString, kind);
    QFETCH(QString, name);
    QFETCH(QString, later);
    QFETCH(QString, chosen);
    QFETCH(QString, atStart);

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString path = folder.filePath(name);
    QVERIFY(make(kind, path, folder.filePath("target.json")));
    // A port nothing sends to: the check refuses to start without one.
    const QByteArray port = QByteArray::number(framesender::freeUdpPort());
    {
        QFile config(Skywandtester::configFilePath());
        QVERIFY(config.open(QIODevice::WriteOnly | QIODevice::Truncate));
        config.write(port);
    }
    auto window = std::make_unique<Skywandtester>();
    QString error;
    QCOMPARE(window->setCheckProfilePath(path, error), chosen.isEmpty());
    QVERIFY2(error.contains(chosen), qPrintable(error));
    const QString inForce = chosen.isEmpty() ? path : QString();
    QCOMPARE(window->checkProfilePath(), inForce);
    QCOMPARE(readConfig(),
             chosen.isEmpty() ? port + "\ncheck-profile=" + path.toUtf8() + "\n" : port);

    // The choice outlives the window.
    window = std::make_unique<Skywandtester>();
    QCOMPARE(window->checkProfilePath(), inForce);

    if (!later.isEmpty()) {
        QVERIFY(QFile::remove(path));
        QVERIFY(make(later, path, QString()));
    }
    window->findChild<QAction*>(QStringLiteral("actionCheckSkywand"))->trigger();
    auto* wizard = window->findChild<CheckWizard*>();
    auto* refusal = window->findChild<QMessageBox*>(QStringLiteral("profileRefused"));
    if (!atStart.isEmpty()) {
        QVERIFY(!wizard);
        QVERIFY(refusal);
        QVERIFY2(refusal->text().contains(atStart), qPrintable(refusal->text()));
        QVERIFY(refusal->text().contains(QLatin1String("Settings, Check profile")));
        // The default limits are always there to go back to.
        QVERIFY(window->setCheckProfilePath(QString(), error));
        QCOMPARE(readConfig(), port);
        window->findChild<QAction*>(QStringLiteral("actionCheckSkywand"))->trigger();
        wizard = window->findChild<CheckWizard*>();
    }
    QVERIFY(wizard);
    const bool lab = atStart.isEmpty() && chosen.isEmpty();
    QCOMPARE(wizard->findChild<QLabel*>(QStringLiteral("profileInForce"))->text(),
             lab ? path : QStringLiteral("default limits"));
    QCOMPARE(wizard->check().profile().maxOffset, lab ? 0.2 : CheckProfile().maxOffset);
}

void TestCheckProfileSetting::storeUrlWithoutPassword_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QByteArray>("config"); // after the port text "0"
    QTest::addColumn<bool>("notice");
    QTest::newRow("password in the user part")
        << "postgresql://ann:s3cr@t@lab.example:5433/checks"
        << QByteArray("\ncheck-store=postgresql://ann@lab.example:5433/checks\n") << true;
    QTest::newRow("password parameter")
        << "postgres://ann@lab/checks?password=s3cret&sslmode=require"
        << QByteArray("\ncheck-store=postgres://ann@lab/checks?sslmode=require\n") << true;
    QTest::newRow("no password") << " postgresql://ann@lab/checks "
                                 << QByteArray("\ncheck-store=postgresql://ann@lab/checks\n")
                                 << false;
    QTest::newRow("file") << "sqlite:/lab/checks.sqlite"
                          << QByteArray("\ncheck-store=sqlite:/lab/checks.sqlite\n") << false;
    QTest::newRow("the default") << QString::fromStdString(defaultCheckStoreUrl()) << QByteArray()
                                 << false;
    QTest::newRow("empty: the default") << QString() << QByteArray() << false;
}

// The configuration file keeps the records' URL on a line of its own, and
// never a password; the window tells where the password comes from instead.
void TestCheckProfileSetting::storeUrlWithoutPassword()
{
    QFETCH(QString, url);
    QFETCH(QByteArray, config);
    QFETCH(bool, notice);
    {
        QFile file(Skywandtester::configFilePath());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("0");
    }
    auto window = std::make_unique<Skywandtester>();
    QString told;
    QString error;
    QVERIFY(window->setCheckStoreUrl(url, told, error));
    QCOMPARE(readConfig(), "0" + config);
    QCOMPARE(told.contains(QLatin1String("~/.pgpass")), notice);
    QVERIFY(!told.contains(QLatin1String("s3cr")));
    const QString inUse = window->checkStoreUrl();
    QVERIFY(!inUse.isEmpty());
    window = std::make_unique<Skywandtester>();
    QCOMPARE(window->checkStoreUrl(), inUse);
    // A line break would end the line and start another key.
    QVERIFY(!window->setCheckStoreUrl(QStringLiteral("sqlite:/a\ncheck-profile=/x"), told, error));
    QCOMPARE(readConfig(), "0" + config);
}

QTEST_MAIN(TestCheckProfileSetting)
#include "tst_checkprofilesetting.moc"
