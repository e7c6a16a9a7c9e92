#pragma once

#include "core/service/ErrorReport.h"
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
    // chunk: the first choice's delta text: its "content", else its
    // "refusal" (a refusal is the answer a person reads)
    QString content;
    // chunk: the delta's "reasoning", else the text and summaries of its
    // "reasoning_details" (encrypted entries are never shown)
    QString reasoning;
    // chunk: the first choice's "finish_reason" when it is a string
    std::optional<QString> finishReason;
    bool finishedWithError = false; // chunk: the first choice's finish_reason is "error"

    // Reads one complete line (without its terminator). headers are those
    // of the stream's response: an error inside the stream is classified
    // with them (its limits are measured from their Date).
    static StreamEvent parse(QByteArrayView line, const ErrorReport::Headers &headers = {});
    // The failure a chunk that finished with reason "error" stands for.
    static ORError finishReasonError();
};
