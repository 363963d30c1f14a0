#pragma once

#include <QObject>
#include <QPointer>

class LegalNoticeView;
class Preferences;
class QWidget;

/// \brief Keeps the legal notice in front of \a host while the current version is not accepted, and
/// records acceptance in the preferences. Also opens the notice for reading once it is accepted.
class LegalNoticeGate : public QObject
{
    Q_OBJECT

public:
    /// \a preferences must outlive the gate; the gate watches \a host being shown.
    LegalNoticeGate(QWidget *host, Preferences *preferences);

    bool isAccepted() const;
    /// The notice on screen, if any.
    LegalNoticeView *notice() const { return m_notice; }

    /// Opens the notice: asking for agreement while it is not accepted, for reading otherwise.
    void showNotice();

signals:
    /// The user declined the notice: the program should quit.
    void declined();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void handleAgreed();

    QWidget *m_host;
    Preferences *m_preferences;
    QPointer<LegalNoticeView> m_notice;
};
