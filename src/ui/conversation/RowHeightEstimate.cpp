#include "ui/conversation/RowHeightEstimate.h"

#include <QFontMetrics>

namespace {

// The row's parts that do not depend on the text (see MessageRow).
constexpr int userGap = 60; // kept free at the left of a question
constexpr int bubblePaddingX = 28;
constexpr int bubblePaddingY = 20;
constexpr int imageStrip = 90 + 8;
constexpr int answerFooter = 8 + 22;
constexpr int blankLine = 10; // the space between two Markdown blocks

// Lines of text at this many characters per line; blank lines count apart.
QPair<int, int> linesOf(const QString &text, int perLine)
{
    int lines = 0;
    int blanks = 0;
    int run = 0;
    const auto endLine = [&] {
        if (run == 0)
            ++blanks;
        else
            lines += (run + perLine - 1) / perLine;
        run = 0;
    };
    for (const QChar c : text) {
        if (c == QLatin1Char('\n'))
            endLine();
        else
            ++run;
    }
    endLine();
    return { lines, blanks };
}

} // namespace

int RowHeightEstimate::of(const ChatMessage &message, int width, const QFont &font)
{
    const QFontMetrics metrics(font);
    const int charWidth = qMax(1, metrics.averageCharWidth());
    const bool user = message.role == QLatin1String("user");
    const int textWidth = qMax(charWidth, user ? width - userGap - bubblePaddingX : width);
    const auto [lines, blanks] = linesOf(message.text, qMax(1, textWidth / charWidth));
    const int text = lines * metrics.lineSpacing() + blanks * blankLine;
    if (!user)
        return text + answerFooter;
    int height = message.text.isEmpty() ? 0 : text + bubblePaddingY;
    if (!message.images.isEmpty())
        height += imageStrip;
    return height;
}
