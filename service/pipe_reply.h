#pragma once

// Whether and how a request is answered.
enum class PipeReply {
    kAnswer,        // the record goes back
    kAnswerAndEnd,  // the record goes back, then the server ends (request -1)
    kNoAnswer,      // the connection is closed unanswered
};
