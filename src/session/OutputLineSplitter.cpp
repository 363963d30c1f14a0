#include "session/OutputLineSplitter.h"

std::optional<QString> OutputLineSplitter::decode(QByteArrayView line)
{
    m_decoder.resetState();
    QString text = m_decoder.decode(line);
    if (m_decoder.hasError())
        return std::nullopt;
    return text;
}
