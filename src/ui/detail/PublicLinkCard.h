#pragma once

#include <QPointer>
#include <QWidget>

class ActionButton;
class FactRow;
class QLabel;
class QrCodeDialog;
class TextButton;
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
    /// The address and, on a line of its own, the password visitors are asked for.
    void copyAddressWithPassword();
    /// Opens the address as a QR code (one dialog, made on first use).
    void showQrCode();
    /// The open QR code, or nullptr.
    QrCodeDialog *qrCodeDialog() const;

private:
    QWidget *makeLinkBlock();
    QWidget *makeEmptyLink();
    void refreshCopyButton();
    void copyText(const QString &suffix);
    /// The password of a gate with its password on, or an empty text.
    static QString passwordToShare(const TunnelSession &session);

    QPointer<TunnelSession> m_session;
    bool m_copied = false;
    QWidget *m_linkBlock = nullptr;
    UrlText *m_urlText = nullptr;
    ActionButton *m_copyButton = nullptr;
    TextButton *m_copyWithPasswordButton = nullptr;
    QPointer<QrCodeDialog> m_qrDialog;
    QWidget *m_emptyLink = nullptr;
    SymbolView *m_emptyLinkSymbol = nullptr;
    QLabel *m_emptyLinkTitle = nullptr;
    FactRow *m_providerFact = nullptr;
    FactRow *m_originFact = nullptr;
    FactRow *m_connectedFact = nullptr;
};
