#include "core/export/AnswerEnd.h"

namespace AnswerEnd {

QString words(AnswerCut cut)
{
    switch (cut) {
    case AnswerCut::length:
        return QStringLiteral("Cut off: the model reached its length limit.");
    case AnswerCut::filter:
        return QStringLiteral("Stopped by the provider's content filter.");
    case AnswerCut::connection:
        return QStringLiteral("The connection closed before the answer was complete.");
    }
    return {};
}

} // namespace AnswerEnd
