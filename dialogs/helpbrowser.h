#pragma once

#include <QWidget>

class QPushButton;
class QTextBrowser;

// Top-level window showing the HTML manual, with Home, Back and Close. It
// deletes itself when closed and titles itself after the page shown.
class HelpBrowser : public QWidget
{
    Q_OBJECT

public:
    HelpBrowser(const QString& path, const QString& page, QWidget* parent = nullptr);
    ~HelpBrowser() override;

    // Opens a new help window on page of the manual folder "doc" beside the
    // executable.
    static void openHelpPage(const QString& page);

private slots:
    void updateWindowTitle();

private:
    QTextBrowser* textBrowser;
    QPushButton* homeButton;
    QPushButton* backButton;
    QPushButton* closeButton;
};
