#pragma once

#include <QPointer>
#include <QWidget>

class ActionButton;
class FactRow;
class QLabel;
class SymbolView;
class TunnelSession;
class UrlText;

/// \brief The public address: the link with copy and open buttons while there is one, an explanation
/// while there is none, and the facts of the running tunnel.
class PublicLinkCard : public QWidget
{
    Q_OBJECT

public:
    explicit PublicLinkCard(TunnelSession *session, QWidget *parent = nullptr);

    void refresh(const TunnelSession &session);
    /// Whether the copy button reads "已复制".
    bool isCopied() const { return m_copied; }
    /// What the copy button does; nothing while there is no address.
    void copyAddress();

private:
    QWidget *makeLinkBlock();
    QWidget *makeEmptyLink();
    void refreshCopyButton();

    QPointer<TunnelSession> m_session;
    bool m_copied = false;
    QWidget *m_linkBlock = nullptr;
    UrlText *m_urlText = nullptr;
    ActionButton *m_copyButton = nullptr;
    QWidget *m_emptyLink = nullptr;
    SymbolView *m_emptyLinkSymbol = nullptr;
    QLabel *m_emptyLinkTitle = nullptr;
    FactRow *m_providerFact = nullptr;
    FactRow *m_originFact = nullptr;
    FactRow *m_connectedFact = nullptr;
};
