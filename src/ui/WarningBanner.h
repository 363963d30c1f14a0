#pragma once

#include <QWidget>

class QLabel;

/// \brief A full-width strip in the theme's error colours that says what went wrong with the saved
/// services. Hidden while there is nothing to say.
class WarningBanner : public QWidget
{
    Q_OBJECT

public:
    /// Names its parts \a name + "Banner", "Reason" and, when \a closable, "Close".
    WarningBanner(const QString &name, bool closable, QWidget *parent = nullptr);

    /// Shows \a reason as plain text; an empty reason hides the banner.
    void setReason(const QString &reason);

signals:
    /// The user closed the banner; it stays hidden until the next reason.
    void closed();

private:
    QLabel *m_reason;
};
