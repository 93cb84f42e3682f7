// Preloaded into the window under test (LD_PRELOAD): wraps QLabel::setText
// to count panel updates (each sets the "X = " label, lbl_joyH, once) and to
// note when the status label first shows a chosen text. Writes to the file
// named by SKYWAND_PROBE_LOG:
//   updates <wall-clock ns> <updates so far>     about once a second
//   mark <wall-clock ns>                          when the status label first
//                                                 contains SKYWAND_PROBE_MARK
//   missed <wall-clock ns> <shown text>           about once a second while the
//                                                 stream monitor is open: its
//                                                 "Missed frames (1 s / all)"
// The window itself is not changed; without the variables the probe only
// passes the calls on.

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QString>
#include <QTableWidget>
#include <QWidget>

#include <dlfcn.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>

namespace {

using SetText = void (*)(QLabel*, const QString&);

long long wallNs()
{
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

struct Probe
{
    SetText real = reinterpret_cast<SetText>(dlsym(RTLD_NEXT, "_ZN6QLabel7setTextERK7QString"));
    FILE* log = nullptr;
    QString mark;
    bool marked = false;
    long long updates = 0;
    long long lastFlushNs = 0;

    Probe()
    {
        if (const char* path = std::getenv("SKYWAND_PROBE_LOG"))
            log = std::fopen(path, "w");
        if (const char* text = std::getenv("SKYWAND_PROBE_MARK"))
            mark = QString::fromUtf8(text);
    }

    // The stream monitor's health table, looked up by its object name and
    // the row's header so that the window needs no hook of its own.
    void logMissed(long long now)
    {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (!top->isVisible())
                continue;
            auto* table = top->findChild<QTableWidget*>(QStringLiteral("healthTable"));
            if (!table)
                continue;
            for (int row = 0; row < table->rowCount(); ++row) {
                const QTableWidgetItem* header = table->verticalHeaderItem(row);
                const QTableWidgetItem* item = table->item(row, 0);
                if (header && item && header->text().startsWith(QLatin1String("Missed frames"))) {
                    std::fprintf(log, "missed %lld %s\n", now, qPrintable(item->text()));
                    return;
                }
            }
        }
    }

    void seen(QLabel* label, const QString& text)
    {
        if (!log)
            return;
        // Called in the GUI thread only, like every QLabel function.
        const QString name = label->objectName();
        if (name == QLatin1String("lbl_joyH")) {
            ++updates;
            const long long now = wallNs();
            if (now - lastFlushNs >= 1000000000LL) {
                std::fprintf(log, "updates %lld %lld\n", now, updates);
                logMissed(now);
                std::fflush(log);
                lastFlushNs = now;
            }
        } else if (!marked && !mark.isEmpty() && name == QLatin1String("statusLabel") &&
                   text.contains(mark)) {
            marked = true;
            std::fprintf(log, "mark %lld\n", wallNs());
            std::fflush(log);
        }
    }
};

Probe& probe()
{
    static Probe instance;
    return instance;
}

} // namespace

// Takes the place of QLabel::setText(const QString&) for the whole process.
extern "C" __attribute__((visibility("default"))) void
_ZN6QLabel7setTextERK7QString(QLabel* self, const QString& text)
{
    Probe& p = probe();
    p.seen(self, text);
    p.real(self, text);
}
