#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

// While a run pours rows and results in, the tables are painted at a steady
// rate instead of once per row: painting a table costs more than judging a
// trivial test point, and the window must not slow judging.
class PaintThrottle : public QObject
{
    Q_OBJECT

public:
    PaintThrottle(const QList<QWidget *> &widgets, int intervalMs, QObject *parent = nullptr);
    void start();
    void stop();  // paints at once and lets the widgets paint freely again

private:
    void paintNow();

    QList<QPointer<QWidget>> m_widgets;
    QTimer m_timer;
};
