#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>

class QLabel;
class QTableView;
class TunnelSession;
class VisitorLogModel;

/// \brief The visitors of the service's gate, newest first, with counts of requests, distinct
/// visitors, errors and refused passwords. Shown while visits are recorded or some are listed;
/// the table is made when the first visit arrives.
class VisitorLogCard : public QWidget
{
    Q_OBJECT

public:
    explicit VisitorLogCard(TunnelSession *session, QWidget *parent = nullptr);

    void refresh(const TunnelSession &session);
    /// The one line of counts above the table.
    QString summary() const;
    /// The table's rows, or nullptr before the first visit.
    const VisitorLogModel *model() const { return m_model; }

private:
    void handleVisitorsChanged();
    void makeTable();

    QPointer<TunnelSession> m_session;
    QTimer m_reloadTimer;
    QLabel *m_summary = nullptr;
    QLabel *m_empty = nullptr;
    QTableView *m_table = nullptr;
    VisitorLogModel *m_model = nullptr;
    qint64 m_shownRequests = 0; ///< the request count the table was last read at
};
