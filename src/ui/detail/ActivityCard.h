#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>

class ActivityRow;
class QLabel;
class QScrollArea;
class QVBoxLayout;
class TextButton;
class TunnelSession;

/// \brief The session's log, newest first, with a button that clears it. Rows are made once and reused.
class ActivityCard : public QWidget
{
    Q_OBJECT

public:
    explicit ActivityCard(TunnelSession *session, QWidget *parent = nullptr);

    void refresh(const TunnelSession &session);

private:
    QPointer<TunnelSession> m_session;
    TextButton *m_clearButton = nullptr;
    QLabel *m_emptyActivity = nullptr;
    QScrollArea *m_activityScroll = nullptr;
    QVBoxLayout *m_activityLayout = nullptr;
    QList<ActivityRow *> m_activityRows; // top down; the first m_shownActivity are visible
    qsizetype m_shownActivity = -1;
};
