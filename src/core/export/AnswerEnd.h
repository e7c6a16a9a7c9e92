#pragma once

#include "core/records/ChatRecords.h"

#include <QString>

// How an answer that was cut short says so, in the same words under the
// answer on screen and in an exported file.
namespace AnswerEnd {

QString words(AnswerCut cut);

} // namespace AnswerEnd
