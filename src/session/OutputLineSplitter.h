#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

#include <optional>

/// \brief Cuts one output stream of a child into lines, whatever the chunking of the pipe.
///
/// Bytes are carried from one chunk to the next, so a line or a multi-byte character split by the
/// pipe is joined before it is judged. Each line is decoded on its own: a line that is not valid
/// UTF-8 is dropped without taking its neighbours along. A line longer than maxLineBytes is
/// dropped whole, so a child that never ends its line cannot grow the buffer without bound.
class OutputLineSplitter
{
public:
    static constexpr qsizetype maxLineBytes = qsizetype(64) * 1024;

    /// Calls \a onLine(const QString &) for every line that \a chunk completes.
    template <typename Sink> void feed(QByteArrayView chunk, Sink &&onLine);

    /// End of stream: the unterminated last line, if any, is a line too.
    template <typename Sink> void finish(Sink &&onLine);

private:
    // Line feed, vertical tab, form feed and carriage return are 0x0A..0x0D and never occur inside a
    // multi-byte UTF-8 sequence. NEL, LS and PS are multi-byte; the reader of the lines splits at those.
    static bool isLineEnd(char c) { return c >= '\n' && c <= '\r'; }

    std::optional<QString> decode(QByteArrayView line);

    QByteArray m_pending;
    bool m_discarding = false; ///< inside an over-long line, until its end
    QStringDecoder m_decoder { QStringConverter::Utf8, QStringConverter::Flag::Stateless };
};

template <typename Sink> void OutputLineSplitter::feed(QByteArrayView chunk, Sink &&onLine)
{
    const char *data = chunk.data();
    const qsizetype size = chunk.size();
    qsizetype begin = 0;
    for (qsizetype i = 0; i < size; ++i) {
        if (!isLineEnd(data[i]))
            continue;
        QByteArrayView piece(data + begin, i - begin);
        begin = i + 1;
        if (m_discarding) {
            m_discarding = false;
            continue;
        }
        if (m_pending.size() + piece.size() > maxLineBytes) {
            m_pending.clear(); // its start may have come in an earlier chunk: the bound is on the whole line
            continue;
        }
        if (!m_pending.isEmpty()) {
            m_pending.append(piece);
            piece = m_pending;
        }
        if (!piece.isEmpty()) {
            if (auto line = decode(piece))
                onLine(*line);
        }
        m_pending.clear();
    }
    const QByteArrayView tail(data + begin, size - begin);
    if (m_discarding || tail.isEmpty())
        return;
    if (m_pending.size() + tail.size() > maxLineBytes) {
        m_pending.clear();
        m_discarding = true;
        return;
    }
    m_pending.append(tail);
}

template <typename Sink> void OutputLineSplitter::finish(Sink &&onLine)
{
    if (!m_discarding && !m_pending.isEmpty()) {
        if (auto line = decode(m_pending))
            onLine(*line);
    }
    m_pending.clear();
    m_discarding = false;
}
