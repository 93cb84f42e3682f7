#pragma once

#include <QBasicTimer>
#include <QElapsedTimer>
#include <QObject>

class QWidget;

// Paces the painting of a top-level window to about the display's rate.
// Qt paints a window on the update request that follows any change; with
// frames at 1 kHz that is a thousand full paints a second, of which a 60 Hz
// display shows sixty. A request that comes sooner than the interval after
// the last paint is held back, and one is sent when the interval has passed;
// that paint shows everything changed meanwhile. Widgets, texts and values
// still change at once; only the pixels are drawn less often. Owned by the
// window.
class PaintPacer : public QObject
{
public:
    PaintPacer(QWidget* window, int intervalMs);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    QWidget* window;
    qint64 intervalMs;
    QElapsedTimer lastPaint;
    QBasicTimer timer;
};
