#pragma once
// The small always-on-top window of a running batch move: a bar and a percentage.
#include "engine/batchmove/Progress.h"

#include <QWidget>

class QLabel;
class QProgressBar;

namespace vemo::copy {

class TBatchMoveStateForm : public QWidget {
    Q_OBJECT
public:
    explicit TBatchMoveStateForm(QWidget* parent = nullptr);

    QProgressBar* ProgressBar1 = nullptr;
    QLabel* Label1 = nullptr;

    // Sets the bar from one progress record, the label from the bar, and repaints at once
    // (the event loop does not run during the move).
    void showProgress(const engine::ProgressRecord& record);
};

} // namespace vemo::copy
