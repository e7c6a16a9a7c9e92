#include "core/service/LineSplitter.h"

void LineSplitter::feed(QByteArrayView bytes)
{
    // Drop what was handed out once it is most of the buffer, so that a long
    // stream neither grows the buffer nor copies it on every read.
    if (m_start > 0 && m_start * 2 >= m_buffer.size()) {
        m_buffer.remove(0, m_start);
        m_scanned -= m_start;
        m_start = 0;
    }
    m_buffer.append(bytes);
}

std::optional<QByteArray> LineSplitter::next()
{
    if (m_dropLeadingLF && m_start < m_buffer.size()) {
        m_dropLeadingLF = false;
        if (m_buffer.at(m_start) == '\n') {
            ++m_start;
            m_scanned = std::max(m_scanned, m_start);
        }
    }
    if (m_dropLeadingLF)
        return std::nullopt;
    const char *data = m_buffer.constData();
    for (qsizetype at = std::max(m_scanned, m_start); at < m_buffer.size(); ++at) {
        const char c = data[at];
        if (c != '\n' && c != '\r')
            continue;
        QByteArray line(data + m_start, at - m_start);
        m_start = at + 1;
        m_scanned = m_start;
        if (c == '\r') {
            if (m_start < m_buffer.size()) {
                if (data[m_start] == '\n')
                    m_scanned = ++m_start;
            } else {
                m_dropLeadingLF = true;
            }
        }
        return line;
    }
    m_scanned = m_buffer.size();
    return std::nullopt;
}

std::optional<QByteArray> LineSplitter::finish()
{
    if (m_start >= m_buffer.size())
        return std::nullopt;
    QByteArray line = m_buffer.mid(m_start);
    m_buffer.clear();
    m_start = 0;
    m_scanned = 0;
    return line;
}
