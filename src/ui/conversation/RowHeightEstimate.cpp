#include "ui/conversation/RowHeightEstimate.h"

#include <QFontMetrics>

namespace {

// The row's parts that do not depend on the text (see MessageRow).
constexpr int userGap = 60; // kept free at the left of a question
constexpr int bubblePaddingX = 28;
constexpr int bubblePaddingY = 20;
constexpr int imageStrip = 90 + 8;
constexpr int answerFooter = 8 + 22;
constexpr int reasoningLine = 20 + 8; // the line that opens it, and the gap below

constexpr int blockSpacing = 10; // between two Markdown blocks
constexpr int codeChrome = 32 + 24; // a code block's caption and padding
constexpr double headingScale = 1.6;

int wrapped(qsizetype length, int perLine)
{
    return int((length + perLine - 1) / perLine);
}

// A question: its lines as they are, wrapped.
int plainHeight(QStringView text, int perLine, int lineHeight)
{
    int lines = 0;
    for (const QStringView line : text.tokenize(u'\n'))
        lines += qMax(1, wrapped(line.size(), perLine));
    return lines * lineHeight;
}

// An answer: a block per line outside code, code lines unwrapped, headings
// taller, and the chrome of each code block.
int markdownHeight(QStringView text, int perLine, int lineHeight)
{
    int height = 0;
    bool inCode = false;
    for (QStringView line : text.tokenize(u'\n')) {
        if (line.trimmed().startsWith(u"```")) {
            if (!inCode)
                height += codeChrome + blockSpacing;
            inCode = !inCode;
        } else if (inCode) {
            height += lineHeight;
        } else if (line.trimmed().isEmpty()) {
            continue;
        } else if (line.startsWith(u'#')) {
            height += int(lineHeight * headingScale) + blockSpacing;
        } else {
            height += wrapped(line.size(), perLine) * lineHeight + blockSpacing;
        }
    }
    return height;
}

} // namespace

int RowHeightEstimate::of(const ChatMessage &message, int width, const QFont &font)
{
    const QFontMetrics metrics(font);
    const int charWidth = qMax(1, metrics.averageCharWidth());
    const bool user = message.role == QLatin1String("user");
    const int textWidth = qMax(charWidth, user ? width - userGap - bubblePaddingX : width);
    const int perLine = qMax(1, textWidth / charWidth);
    if (!user) {
        int height = markdownHeight(message.text, perLine, metrics.lineSpacing()) + answerFooter;
        // Reasoning is open only while the model still reasons.
        const QString reasoning = message.reasoning.value_or(QString());
        if (!reasoning.isEmpty())
            height += reasoningLine;
        if (!reasoning.isEmpty() && !message.reasoningSeconds)
            height += plainHeight(reasoning, perLine, metrics.lineSpacing());
        return height;
    }
    int height = message.text.isEmpty()
        ? 0
        : plainHeight(message.text, perLine, metrics.lineSpacing()) + bubblePaddingY;
    if (!message.images.isEmpty())
        height += imageStrip;
    return height;
}
