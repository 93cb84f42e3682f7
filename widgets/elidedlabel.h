#pragma once

#include <QLabel>

// A one-line label that asks for no more width than an ellipsis: text that
// does not fit is painted cut at the right with an ellipsis, so a long text
// never widens the window. text() keeps the whole text.
class ElidedLabel : public QLabel
{
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    // The text as the label paints it at its current width.
    QString shownText() const;

    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};
