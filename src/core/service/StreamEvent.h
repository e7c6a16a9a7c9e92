#pragma once

#include "core/service/ORError.h"

#include <QByteArrayView>
#include <QString>
#include <optional>

// What one line of a chat-completion event stream means to the client.
struct StreamEvent {
    enum class Kind {
        ignored, // not a "data:" line, a comment, or a payload that is not a JSON object
        done, // "data: [DONE]"
        failed, // the event carries an "error" object
        chunk, // any other JSON object
    };

    Kind kind = Kind::ignored;
    std::optional<ORError> error; // failed: the classified error
    std::optional<QString> model; // chunk: its "model" when a string
    QString content; // chunk: the first choice's non-empty delta text
    bool finishedWithError = false; // chunk: the first choice's finish_reason is "error"

    // Reads one complete line (without its terminator).
    static StreamEvent parse(QByteArrayView line);
    // The failure a chunk that finished with reason "error" stands for.
    static ORError finishReasonError();
};
