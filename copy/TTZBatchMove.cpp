#include "copy/TTZBatchMove.h"

#include "copy/TBatchMoveStateForm.h"
#include "engine/contract/EngineError.h"
#include "engine/session/Session.h"

#include <QProgressBar>
#include <memory>

namespace vemo::copy {

void TTZBatchMove::Execute() {
    using engine::EngineError;
    if (settings.destinationTable.empty())
        throw EngineError(engine::ErrInvalidParam, "転送先が指定されていないか不正です。");
    if (settings.sourceTable.empty())
        throw EngineError(engine::ErrInvalidParam, "転送元が指定されていないか不正です。");
    result_ = {};
    engine::OpenOptions readOnly;
    readOnly.readOnly = true;
    const int64_t count = session_.openTable(settings.sourceAlias, settings.sourceTable, readOnly)->count();
    if (count == 0)
        return; // nothing to move: no window, no move
    std::unique_ptr<TBatchMoveStateForm> form;
    engine::ProgressCallback progress;
    if (ShowProgressBar) {
        form = std::make_unique<TBatchMoveStateForm>();
        form->setWindowTitle(QStringLiteral("転送中"));
        form->ProgressBar1->setMaximum(static_cast<int>(std::min<int64_t>(count, INT32_MAX)));
        form->show();
        progress = [this, &form](int type, const engine::ProgressRecord& record) {
            if (type != engine::kGeneralProgress)
                return engine::kProgressAbort;
            form->showProgress(record);
            if (onProgressShown)
                onProgressShown(*form);
            return engine::kProgressContinue;
        };
    }
    result_ = engine::runBatchMove(session_, settings, progress); // the window goes with form, also on failure
}

} // namespace vemo::copy
