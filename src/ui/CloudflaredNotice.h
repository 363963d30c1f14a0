#pragma once

#include <QList>
#include <QWidget>

class ActionButton;
class QLabel;

/// \brief Says, while no `cloudflared` is found, that tunnels need it and where a Linux user gets it,
/// and offers "重新检测". Hidden while `cloudflared` is found, and while the first look is under way.
class CloudflaredNotice : public QWidget
{
    Q_OBJECT

public:
    explicit CloudflaredNotice(QWidget *parent = nullptr);

    /// \a version is the store's cloudflaredVersion(); \a detecting whether it is looking again.
    void setState(const QString &version, bool detecting);

    /// The version text that means no `cloudflared` was found.
    static QString notFound();

signals:
    void redetectRequested();

protected:
    void showEvent(QShowEvent *event) override;

private:
    ActionButton *m_redetect;
    QLabel *m_outcome;
    bool m_wasDetecting = false;
    bool m_wasMissing = false;
    QList<QLabel *> m_selectableTexts; // until first shown
};
