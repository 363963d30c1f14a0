#pragma once

#include <QPlainTextEdit>

/// \brief Read-only, selectable text over at most a given number of lines, broken anywhere when a
/// word is longer than a line (URLs have no spaces), never widening its window.
class UrlText : public QPlainTextEdit
{
    Q_OBJECT

public:
    explicit UrlText(int maximumLines, QWidget *parent = nullptr);

    QString text() const { return toPlainText(); }
    void setText(const QString &text);

    /// Lines the text takes at \a width before the limit.
    int lineCount(int width) const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    int m_maximumLines;
};
