#include "ui/widgets/SingleLineField.h"

#include <QScopedValueRollback>
#include <QValidator>

#include <algorithm>

namespace {

bool isLineBreak(QChar c)
{
    switch (c.unicode()) {
    case u'\n':
    case u'\r':
    case u'\v':
    case u'\f':
    case 0x0085:
    case 0x2028:
    case 0x2029:
        return true;
    default:
        return false;
    }
}

/// Rewrites the text of every change, whatever its road: typing, paste, drop, setText, accessibility.
class LineBreakFilter : public QValidator
{
public:
    using QValidator::QValidator;

    State validate(QString &input, int &pos) const override
    {
        if (!std::any_of(input.cbegin(), input.cend(), isLineBreak))
            return Acceptable;
        // The cursor keeps its place among the characters that stay.
        const QString kept = input.left(pos);
        const QString cleaned = SingleLineField::withoutLineBreaks(input);
        pos = int(qMin(cleaned.size(), SingleLineField::withoutLineBreaks(kept + u'x').size() - 1));
        input = cleaned;
        return Acceptable;
    }
};

} // namespace

SingleLineField::SingleLineField(QWidget *parent)
    : QLineEdit(parent)
{
    setValidator(new LineBreakFilter(this));
    connect(this, &QLineEdit::textChanged, this, &SingleLineField::handleTextChanged);
}

QString SingleLineField::withoutLineBreaks(const QString &text)
{
    QString result;
    result.reserve(text.size());
    bool pendingBreak = false;
    for (const QChar c : text) {
        if (isLineBreak(c)) {
            pendingBreak = !result.isEmpty();
            continue;
        }
        if (pendingBreak)
            result += u' ';
        pendingBreak = false;
        result += c;
    }
    return result;
}

void SingleLineField::showText(const QString &text)
{
    const QString shown = withoutLineBreaks(text);
    m_accepted = shown;
    // A field being typed into already holds what the model got from it; never reset its cursor.
    if (this->text() == shown || hasFocus())
        return;
    const QScopedValueRollback guard(m_showing, true);
    setText(shown);
}

void SingleLineField::handleTextChanged(const QString &text)
{
    if (m_showing)
        return;
    if (!isEnabled() || isReadOnly()) {
        const QScopedValueRollback guard(m_showing, true);
        setText(m_accepted);
        return;
    }
    m_accepted = text;
    emit edited(text);
}
