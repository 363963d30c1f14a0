#pragma once

#include <QDialog>

class QCheckBox;
class ActionButton;

/// \brief The notice about permitted uses, public exposure, the outside tunnel service and privacy.
/// In acceptance mode it can only be left through its buttons; in review mode it is for reading.
class LegalNoticeView : public QDialog
{
    Q_OBJECT

public:
    static constexpr int currentVersion = 2;

    explicit LegalNoticeView(bool requiresAcceptance, QWidget *parent = nullptr);

    bool requiresAcceptance() const { return m_requiresAcceptance; }

    /// The title shown in the header for the given mode.
    static QString title(bool requiresAcceptance);

public slots:
    void reject() override;

signals:
    /// "同意并继续": the user agreed.
    void agreed();
    /// "完成" or a normal dismissal in review mode.
    void closed();
    /// "不同意并退出": the program should quit.
    void declined();

private:
    QWidget *makeHeader();
    QWidget *makeBody();
    QWidget *makeFooter();
    void handleConfirmToggled(bool checked);

    const bool m_requiresAcceptance;
    QCheckBox *m_confirm = nullptr;
    ActionButton *m_agree = nullptr;
};
