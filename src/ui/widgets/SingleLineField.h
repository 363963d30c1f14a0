#pragma once

#include <QLineEdit>

/// \brief A one-line text field that never holds a line break and reports every change its user makes,
/// whether typed, pasted, undone or made through an assistive technology.
///
/// Line breaks arriving by any road are dropped at either end of the text and folded into one space
/// inside it. Text put in by showText() is not reported; a locked (disabled or read-only) field refuses
/// changes from assistive technologies, which Qt lets through otherwise.
class SingleLineField : public QLineEdit
{
    Q_OBJECT

public:
    explicit SingleLineField(QWidget *parent = nullptr);

    /// Shows \a text from the model, unless someone is typing into the field: their cursor stays put.
    void showText(const QString &text);

    /// \a text with its line breaks dropped at either end and each inner run of them folded into one space.
    static QString withoutLineBreaks(const QString &text);

signals:
    /// The user changed the text to \a text.
    void edited(const QString &text);

private:
    void handleTextChanged(const QString &text);

    bool m_showing = false;
    QString m_accepted;
};
