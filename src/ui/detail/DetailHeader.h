#pragma once

#include <QPointer>
#include <QWidget>

class CircleSymbolButton;
class SingleLineField;
class TunnelSession;

/// \brief The top of the detail pane: the editable service name, the status badge and the delete button.
class DetailHeader : public QWidget
{
    Q_OBJECT

public:
    explicit DetailHeader(TunnelSession *session, QWidget *parent = nullptr);

    void refresh(const TunnelSession &session);

signals:
    void deleteClicked();

private:
    QPointer<TunnelSession> m_session;
    SingleLineField *m_nameField;
};
