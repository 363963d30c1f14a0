#pragma once

#include <QWidget>

class QLabel;

/// \brief A full-width strip in the theme's error colours that says why the service list could not be
/// saved. Hidden while there is nothing to say.
class SaveErrorBanner : public QWidget
{
    Q_OBJECT

public:
    explicit SaveErrorBanner(QWidget *parent = nullptr);

    /// Shows \a reason as plain text; an empty reason hides the banner.
    void setReason(const QString &reason);

private:
    QLabel *m_reason;
};
