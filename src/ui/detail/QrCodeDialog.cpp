#include "ui/detail/QrCodeDialog.h"

#include "ui/style/ActionButton.h"
#include "ui/style/Theme.h"
#include "ui/widgets/QrCodeView.h"
#include "ui/widgets/ViewParts.h"
#include "ui/widgets/WrappingLabel.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QTimer>
#include <QVBoxLayout>

namespace {
constexpr int copiedModulePixels = 12;
const QString copyText = QStringLiteral("复制图片");
} // namespace

QrCodeDialog::QrCodeDialog(std::chrono::milliseconds copiedLabel, QWidget *parent)
    : QDialog(parent)
    , m_copiedLabel(copiedLabel)
{
    setObjectName(QStringLiteral("qrCodeDialog"));
    setWindowTitle(QStringLiteral("公网地址二维码"));
    ViewParts::fillBackground(this, Theme::panel);
    auto *layout = ViewParts::column(12, this);
    layout->setContentsMargins(20, 20, 20, 20);
    m_code = new QrCodeView(this);
    m_code->setObjectName(QStringLiteral("qrCode"));
    m_code->setMinimumSize(280, 280);
    m_code->setAccessibleName(QStringLiteral("公网地址二维码"));
    layout->addWidget(m_code, 1);
    m_address = new WrappingLabel(this);
    m_address->setFont(Theme::font(10));
    m_address->setColor(Theme::muted);
    m_address->setAlignment(Qt::AlignHCenter);
    layout->addWidget(m_address);
    auto *buttons = ViewParts::row(9);
    m_copyButton = new ActionButton(SecondaryButtonStyle {}, this);
    m_copyButton->setObjectName(QStringLiteral("copyImageButton"));
    m_copyButton->setText(copyText);
    m_copyButton->setSymbol(QStringLiteral("doc.on.doc"));
    connect(m_copyButton, &QAbstractButton::clicked, this, &QrCodeDialog::copyImage);
    auto *closeButton = new ActionButton(PrimaryButtonStyle {}, this);
    closeButton->setText(QStringLiteral("关闭"));
    connect(closeButton, &QAbstractButton::clicked, this, &QDialog::close);
    buttons->addWidget(m_copyButton, 1);
    buttons->addWidget(closeButton, 1);
    layout->addLayout(buttons);
    resize(380, 480);
}

void QrCodeDialog::setAddress(const QString &address)
{
    m_code->setText(address);
    m_address->setText(address);
}

void QrCodeDialog::copyImage()
{
    if (m_code->moduleCount() == 0)
        return;
    QGuiApplication::clipboard()->setImage(m_code->toImage(copiedModulePixels));
    m_copyButton->setText(QStringLiteral("已复制"));
    m_copyButton->setSymbol(QStringLiteral("checkmark"));
    QTimer::singleShot(m_copiedLabel, this, [this] {
        m_copyButton->setText(copyText);
        m_copyButton->setSymbol(QStringLiteral("doc.on.doc"));
    });
}
