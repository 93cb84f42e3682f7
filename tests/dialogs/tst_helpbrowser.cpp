#include "helpbrowser.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QtTest>

namespace {

void writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(content), content.size());
}

QPushButton* button(const QWidget& browser, const QString& text)
{
    for (QPushButton* b : browser.findChildren<QPushButton*>())
        if (b->text() == text)
            return b;
    return nullptr;
}

// Clicks the middle of the first occurrence of linkText, as a user would.
void clickLink(QTextBrowser* textBrowser, const QString& linkText)
{
    QTextCursor cursor = textBrowser->document()->find(linkText);
    QVERIFY2(!cursor.isNull(), qPrintable(linkText));
    cursor.setPosition(cursor.selectionStart() + linkText.size() / 2);
    const QPoint point = textBrowser->cursorRect(cursor).center();
    QTest::mouseClick(textBrowser->viewport(), Qt::LeftButton, {}, point);
}

// The bar of links that opens a manual page, empty when the page has none.
QString pageBar(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    static const QRegularExpression bar(R"(<p><a href="index.html">Contents</a>[^\n]*</p>)");
    return bar.match(QString::fromUtf8(file.readAll())).captured(0);
}

QList<HelpBrowser*> openHelpWindows()
{
    QList<HelpBrowser*> windows;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* browser = qobject_cast<HelpBrowser*>(w))
            windows << browser;
    return windows;
}

} // namespace

class TestHelpBrowser : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void firstPageAndButtons();
    void followLinkBackAndHome();
    void closes_data();
    void closes();
    void openHelpPageOpensNewWindows();
    void missingManualSaysWhere();
    void manualPages_data();
    void manualPages();

private:
    QTemporaryDir pages;
};

void TestHelpBrowser::initTestCase()
{
    QVERIFY(pages.isValid());
    writeFile(pages.filePath("index.html"),
              "<html><head><title>Start</title></head><body><h1>Start</h1>"
              "<p>Go to the <a href=\"second.html\">second page</a>.</p></body></html>");
    writeFile(pages.filePath("second.html"),
              "<html><head><title>Second</title></head><body>"
              "<p>Then to a <a href=\"untitled.html\">page without title</a>.</p></body></html>");
    writeFile(pages.filePath("untitled.html"), "<html><body><p>No title here.</p></body></html>");
}

void TestHelpBrowser::cleanup()
{
    qDeleteAll(openHelpWindows());
}

void TestHelpBrowser::firstPageAndButtons()
{
    HelpBrowser browser(pages.path(), "index.html");
    browser.setAttribute(Qt::WA_DeleteOnClose, false); // lives on the stack here
    QCOMPARE(browser.windowTitle(), QStringLiteral("Start"));
    QCOMPARE(browser.parent(), nullptr);

    QPushButton* home = button(browser, "&Home");
    QPushButton* back = button(browser, "&Back");
    QPushButton* close = button(browser, "Close");
    QVERIFY(home && back && close);
    QCOMPARE(close->shortcut(), QKeySequence(Qt::Key_Escape));

    browser.resize(500, 400);
    browser.show();
    QVERIFY(QTest::qWaitForWindowExposed(&browser));
    auto* textBrowser = browser.findChild<QTextBrowser*>();
    QVERIFY(textBrowser);
    QVERIFY(home->x() < back->x());
    QVERIFY(back->geometry().right() < close->x());
    QVERIFY(close->geometry().right() > browser.width() / 2); // Close stands at the right
    QVERIFY(close->geometry().bottom() < textBrowser->y());
}

void TestHelpBrowser::followLinkBackAndHome()
{
    auto* browser = new HelpBrowser(pages.path(), "index.html");
    browser->resize(500, 400);
    browser->show();
    QVERIFY(QTest::qWaitForWindowExposed(browser));
    auto* textBrowser = browser->findChild<QTextBrowser*>();

    clickLink(textBrowser, "second page");
    QTRY_COMPARE(browser->windowTitle(), QStringLiteral("Second"));
    clickLink(textBrowser, "page without title");
    QTRY_COMPARE(textBrowser->source().fileName(), QStringLiteral("untitled.html"));
    QCOMPARE(browser->windowTitle(), QString());

    QTest::mouseClick(button(*browser, "&Back"), Qt::LeftButton);
    QCOMPARE(browser->windowTitle(), QStringLiteral("Second"));
    QTest::mouseClick(button(*browser, "&Home"), Qt::LeftButton);
    QCOMPARE(browser->windowTitle(), QStringLiteral("Start"));
    QCOMPARE(textBrowser->source().fileName(), QStringLiteral("index.html"));
}

void TestHelpBrowser::closes_data()
{
    QTest::addColumn<bool>("byEscape");
    QTest::newRow("Esc") << true;
    QTest::newRow("Close button") << false;
}

// Closing deletes the window, since nothing else holds it.
void TestHelpBrowser::closes()
{
    QFETCH(bool, byEscape);
    QPointer<HelpBrowser> browser = new HelpBrowser(pages.path(), "index.html");
    browser->show();
    browser->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(browser));
    if (byEscape)
        QTest::keyClick(browser, Qt::Key_Escape);
    else
        QTest::mouseClick(button(*browser, "Close"), Qt::LeftButton);
    QTRY_VERIFY(browser.isNull());
}

void TestHelpBrowser::openHelpPageOpensNewWindows()
{
    QVERIFY(openHelpWindows().isEmpty());
    HelpBrowser::openHelpPage("index.html");
    HelpBrowser::openHelpPage("index.html");
    const QList<HelpBrowser*> windows = openHelpWindows();
    QCOMPARE(windows.size(), 2);
    for (HelpBrowser* w : windows) {
        QVERIFY(w->isVisible());
        QVERIFY(w->isWindow());
        QVERIFY(!w->isModal());
        QCOMPARE(w->size(), QSize(500, 400));
        QVERIFY(w->testAttribute(Qt::WA_DeleteOnClose));
        const QStringList paths = w->findChild<QTextBrowser*>()->searchPaths();
        QCOMPARE(paths, QStringList(QCoreApplication::applicationDirPath() + "/doc"));
    }
}

void TestHelpBrowser::missingManualSaysWhere()
{
    const QString folder = pages.filePath("absent");
    HelpBrowser browser(folder, "index.html");
    browser.setAttribute(Qt::WA_DeleteOnClose, false);
    QCOMPARE(browser.windowTitle(), QStringLiteral("Manual not found"));
    auto* textBrowser = browser.findChild<QTextBrowser*>();
    QVERIFY(textBrowser);
    QVERIFY(textBrowser->toPlainText().contains(QDir::toNativeSeparators(folder + "/index.html")));
}

void TestHelpBrowser::manualPages_data()
{
    QTest::addColumn<QString>("page");
    const QDir manual(QStringLiteral(SKYWAND_MANUAL_DIR));
    const QStringList files = manual.entryList({"*.html"}, QDir::Files, QDir::Name);
    QVERIFY(files.contains("index.html"));
    for (const QString& file : files)
        QTest::newRow(qPrintable(file)) << file;
}

// Every page of the shipped manual has a title, its local links and pictures
// lead to files that exist, and it opens with the same bar of links to every
// page, so that a new page cannot be left out of some bars.
void TestHelpBrowser::manualPages()
{
    QFETCH(QString, page);
    const QDir manual(QStringLiteral(SKYWAND_MANUAL_DIR));
    HelpBrowser browser(manual.path(), page);
    browser.setAttribute(Qt::WA_DeleteOnClose, false);
    QVERIFY(!browser.windowTitle().isEmpty());

    QFile file(manual.filePath(page));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(file.readAll());
    static const QRegularExpression reference(R"re((?:href|src)="([^"#]*)(?:#[^"]*)?")re");
    for (auto match = reference.globalMatch(html); match.hasNext();) {
        const QString target = match.next().captured(1);
        if (target.isEmpty() || target.contains(':'))
            continue; // in-page anchor or absolute URL
        QVERIFY2(QFile::exists(manual.filePath(target)), qPrintable(page + " -> " + target));
    }
    const QString bar = pageBar(manual.filePath(page));
    QCOMPARE(bar, pageBar(manual.filePath("index.html")));
    for (const QString& other : manual.entryList({"*.html"}, QDir::Files))
        QVERIFY2(bar.contains(QStringLiteral("href=\"%1\"").arg(other)), qPrintable(other));
}

QTEST_MAIN(TestHelpBrowser)
#include "tst_helpbrowser.moc"
