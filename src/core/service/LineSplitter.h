#pragma once

#include <QByteArray>
#include <optional>

// Cuts a byte stream into lines at CR, LF or CRLF, however the stream was
// split into reads (a CRLF may arrive as CR in one read and LF in the next).
// Lines come without their terminators; empty lines are passed on.
class LineSplitter
{
public:
    void feed(QByteArrayView bytes);
    // The next complete line, or nothing until more bytes arrive.
    std::optional<QByteArray> next();
    // At the end of the stream: the last line when it had no terminator.
    std::optional<QByteArray> finish();

private:
    QByteArray m_buffer;
    qsizetype m_start = 0; // first byte not yet handed out
    qsizetype m_scanned = 0; // bytes before this hold no terminator
    bool m_dropLeadingLF = false; // the last line ended with a CR
};
