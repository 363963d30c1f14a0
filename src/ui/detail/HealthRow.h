#pragma once

#include <QWidget>

class HealthCard;
class QLabel;
class TunnelSession;

/// \brief The three tiles under the pane's header: local service, public address and the last check.
class HealthRow : public QWidget
{
    Q_OBJECT

public:
    explicit HealthRow(QWidget *parent = nullptr);

    void refresh(const TunnelSession &session);

private:
    HealthCard *m_localCard;
    HealthCard *m_publicCard;
    QLabel *m_lastChecked = nullptr;
};
