#pragma once

#include <QEvent>
#include <QObject>
#include <QTimer>

#include <cstdio>

/// Prints "frame" once the watched window has painted for the first time: the line leaves after the
/// paint event has been handled, so the reader measures a finished frame.
class FirstPaint : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !m_seen) {
            m_seen = true;
            QTimer::singleShot(0, this, [] {
                std::puts("frame");
                std::fflush(stdout);
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool m_seen = false;
};
