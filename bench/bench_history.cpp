// The check history window over 100,000 generated checks, offscreen: how
// long it takes to open, to filter to one wand and to chart a wand picked
// from the full list, each up to the window painted. Prints one line each.

#include "checkhistorywindow.h"
#include "checkrecordmodel.h"
#include "generatedstore.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QTableView>

#include <cstdio>

namespace {

double paintedMs(QWidget& window, QElapsedTimer& timer)
{
    QApplication::processEvents();
    window.grab();
    return double(timer.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    GeneratedStore generated;
    if (!generated.ready) {
        std::fprintf(stderr, "no generated store in %s\n", generated.folder.c_str());
        return 1;
    }
    QElapsedTimer timer;
    timer.start();
    CheckHistoryWindow window(QString::fromStdString(generated.url));
    window.show();
    std::printf("open, %d checks listed: %.1f ms\n", window.model()->rowCount(),
                paintedMs(window, timer));

    // The list is shown when the model is reset; the charts follow.
    double listedMs = 0;
    QObject::connect(window.model(), &QAbstractItemModel::modelReset, &window,
                     [&] { listedMs = double(timer.nsecsElapsed()) / 1e6; });
    timer.restart();
    window.findChild<QLineEdit*>(QStringLiteral("wandFilter"))->setText(QStringLiteral("W42"));
    window.refresh();
    const double filteredMs = paintedMs(window, timer);
    std::printf("filter to wand W42, %d checks listed: %.1f ms; its charts drawn as well: %.1f "
                "ms\n",
                window.model()->rowCount(), listedMs, filteredMs);

    window.findChild<QLineEdit*>(QStringLiteral("wandFilter"))->clear();
    window.refresh();
    QApplication::processEvents();
    auto* table = window.findChild<QTableView*>(QStringLiteral("checkTable"));
    timer.restart();
    table->selectRow(7);
    const double builtMs = double(timer.nsecsElapsed()) / 1e6;
    std::printf("charts of wand %s, picked from the list: built %.1f ms, drawn %.1f ms\n",
                qPrintable(window.chartedWand()), builtMs, paintedMs(window, timer));
    std::fflush(stdout);
    return 0;
}
