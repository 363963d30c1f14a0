#pragma once

#include <QDialog>

#include <chrono>

class ActionButton;
class QrCodeView;
class WrappingLabel;

/// \brief The public address as a large QR code, to open it on a phone, with its text below and a
/// button that copies the code as an image.
class QrCodeDialog : public QDialog
{
    Q_OBJECT

public:
    /// "已复制" shows on the copy button for \a copiedLabel after a copy.
    explicit QrCodeDialog(std::chrono::milliseconds copiedLabel, QWidget *parent = nullptr);

    void setAddress(const QString &address);
    const QrCodeView *code() const { return m_code; }
    /// Puts the code on the clipboard as an image, at twelve pixels per module.
    void copyImage();

private:
    const std::chrono::milliseconds m_copiedLabel;
    QrCodeView *m_code;
    WrappingLabel *m_address;
    ActionButton *m_copyButton;
};
