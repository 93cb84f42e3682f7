#include "helpbrowser.h"

#include <QCoreApplication>
#include <QDir>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QPushButton>
#include <QTextBrowser>
#include <QTextDocument>
#include <QUrl>
#include <QVBoxLayout>

HelpBrowser::HelpBrowser(const QString& path, const QString& page, QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_DeleteOnClose, true);

    textBrowser = new QTextBrowser;
    homeButton = new QPushButton(tr("&Home"));
    backButton = new QPushButton(tr("&Back"));
    closeButton = new QPushButton(tr("Close"));
    closeButton->setShortcut(QKeySequence(tr("Esc")));

    auto* buttonLayout = new QHBoxLayout;
    buttonLayout->addWidget(homeButton);
    buttonLayout->addWidget(backButton);
    buttonLayout->addStretch(0);
    buttonLayout->addWidget(closeButton);

    auto* mainLayout = new QVBoxLayout;
    mainLayout->addLayout(buttonLayout);
    mainLayout->addWidget(textBrowser);
    setLayout(mainLayout);

    connect(homeButton, SIGNAL(clicked()), textBrowser, SLOT(home()));
    connect(backButton, SIGNAL(clicked()), textBrowser, SLOT(backward()));
    connect(closeButton, SIGNAL(clicked()), this, SLOT(close()));
    connect(textBrowser, SIGNAL(sourceChanged(const QUrl&)), this, SLOT(updateWindowTitle()));

    textBrowser->setSearchPaths(QStringList{path});
    textBrowser->setSource(QUrl(page));
    // Without the manual the browser stays white; the user is told where it
    // was looked for instead, which is what a broken installation needs.
    if (textBrowser->document()->isEmpty()) {
        const QString where = QDir::toNativeSeparators(QDir(path).filePath(page));
        textBrowser->setHtml(
            QStringLiteral("<html><head><title>Manual not found</title></head><body>"
                           "<h3>Manual not found</h3><p>The manual's page was looked for at "
                           "<b>%1</b>, and nothing readable is there.</p><p>The manual is the "
                           "folder <b>doc</b> beside the program; a build copies it there, and "
                           "the package installs it with the program.</p></body></html>")
                .arg(where.toHtmlEscaped()));
        updateWindowTitle();
    }
}

HelpBrowser::~HelpBrowser() = default;

void HelpBrowser::openHelpPage(const QString& page)
{
    const QString path = QCoreApplication::applicationDirPath() + QStringLiteral("/doc");
    auto* browser = new HelpBrowser(path, page);
    browser->resize(500, 400);
    browser->show();
}

void HelpBrowser::updateWindowTitle()
{
    setWindowTitle(tr("%1").arg(textBrowser->documentTitle()));
}
