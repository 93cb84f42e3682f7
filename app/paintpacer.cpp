#include "paintpacer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimerEvent>
#include <QWidget>

PaintPacer::PaintPacer(QWidget* window, int intervalMs)
    : QObject(window), window(window), intervalMs(intervalMs)
{
    window->installEventFilter(this);
}

bool PaintPacer::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != window || event->type() != QEvent::UpdateRequest) {
        return false;
    }
    // Read once: the clock moves between two reads, and a second read past
    // the interval gave the timer a negative time.
    const qint64 elapsed = lastPaint.isValid() ? lastPaint.elapsed() : intervalMs;
    if (elapsed < intervalMs) {
        if (!timer.isActive()) {
            timer.start(static_cast<int>(intervalMs - elapsed), this);
        }
        return true;
    }
    lastPaint.start();
    return false;
}

void PaintPacer::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != timer.timerId()) {
        QObject::timerEvent(event);
        return;
    }
    timer.stop();
    // Qt sends no further request of its own while it believes one is on its
    // way, so the held-back one is replaced here.
    QCoreApplication::postEvent(window, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority);
}
