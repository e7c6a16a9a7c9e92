#pragma once

#include "core/records/ChatRecords.h"

#include <QFont>

// How tall a message's row will be at a width, guessed from its text
// without laying it out: the rows of a long chat that were never on screen
// need a height, and building them to measure it is what the list avoids.
// The guess only has to be close; a row is measured once it is built.
namespace RowHeightEstimate {

int of(const ChatMessage &message, int width, const QFont &font);

} // namespace RowHeightEstimate
