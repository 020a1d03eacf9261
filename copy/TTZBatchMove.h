#pragma once
// The batch move with its progress window: the engine's move, checked and shown.
#include "engine/batchmove/BatchMove.h"

#include <functional>

namespace vemo::engine {
class Session;
}

namespace vemo::copy {

class TBatchMoveStateForm;

class TTZBatchMove {
public:
    explicit TTZBatchMove(engine::Session& session) : session_(session) {}

    engine::BatchMoveSettings settings; // source, destination, mode, mappings, flags, problem tables
    bool ShowProgressBar = false;

    // Checks source and destination, skips a source without records, shows the progress
    // window while the engine moves the records, and removes it again whatever happens.
    void Execute();
    const engine::BatchMoveResult& lastResult() const { return result_; }

    // Called after each repaint of the progress window while it is up; for tests.
    std::function<void(TBatchMoveStateForm&)> onProgressShown;

private:
    engine::Session& session_;
    engine::BatchMoveResult result_;
};

} // namespace vemo::copy
