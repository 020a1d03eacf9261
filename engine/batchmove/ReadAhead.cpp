#include "engine/batchmove/ReadAhead.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

namespace vemo::engine {
namespace {

struct Chunk {
    std::vector<Row> rows, prepared;
    std::vector<int> notes;
    size_t used = 0;
};

class Pipe {
public:
    Pipe(size_t chunkRows, size_t chunksAhead) : chunkRows_(chunkRows), ahead_(chunksAhead) {}

    // Reader side: a chunk to fill (one given back by the writer when there is one, so that
    // the rows' strings keep their buffers), or nullptr when the writer has stopped.
    std::unique_ptr<Chunk> empty() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return stopped_ || full_.size() < ahead_; });
        if (stopped_)
            return nullptr;
        if (free_.empty()) {
            auto c = std::make_unique<Chunk>();
            c->rows.resize(chunkRows_);
            c->prepared.resize(chunkRows_);
            c->notes.resize(chunkRows_);
            return c;
        }
        auto c = std::move(free_.back());
        free_.pop_back();
        c->used = 0;
        return c;
    }
    void filled(std::unique_ptr<Chunk> c) {
        std::lock_guard lock(mutex_);
        full_.push_back(std::move(c));
        changed_.notify_all();
    }
    void end(std::exception_ptr error) {
        std::lock_guard lock(mutex_);
        ended_ = true;
        error_ = error;
        changed_.notify_all();
    }

    // Writer side: the next filled chunk, or nullptr at the end.
    std::unique_ptr<Chunk> next() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return !full_.empty() || ended_; });
        if (full_.empty())
            return nullptr;
        auto c = std::move(full_.front());
        full_.pop_front();
        changed_.notify_all();
        return c;
    }
    void giveBack(std::unique_ptr<Chunk> c) {
        std::lock_guard lock(mutex_);
        free_.push_back(std::move(c));
    }
    void stop() {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        changed_.notify_all();
    }
    std::exception_ptr error() {
        std::lock_guard lock(mutex_);
        return error_;
    }

    const size_t chunkRows_;

private:
    const size_t ahead_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::unique_ptr<Chunk>> full_;
    std::vector<std::unique_ptr<Chunk>> free_;
    bool stopped_ = false, ended_ = false;
    std::exception_ptr error_;
};

} // namespace

bool scanAhead(Cursor& source, const std::function<bool(const Row&)>& onRow, size_t chunkRows, size_t chunksAhead) {
    return scanAhead(source, PrepareRow(), [&](const Row& row, const Row&, int) { return onRow(row); }, chunkRows,
                     chunksAhead);
}

bool scanAhead(Cursor& source, const PrepareRow& prepare,
               const std::function<bool(const Row& source, const Row& prepared, int note)>& onRow, size_t chunkRows,
               size_t chunksAhead) {
    Pipe pipe(chunkRows == 0 ? 1 : chunkRows, chunksAhead == 0 ? 1 : chunksAhead);
    std::thread reader([&] {
        std::exception_ptr error;
        try {
            std::unique_ptr<Chunk> chunk = pipe.empty();
            if (chunk) {
                source.scan([&](const Row& row) {
                    if (prepare)
                        chunk->notes[chunk->used] = prepare(row, chunk->prepared[chunk->used]);
                    chunk->rows[chunk->used++] = row;
                    if (chunk->used < pipe.chunkRows_)
                        return true;
                    pipe.filled(std::move(chunk));
                    chunk = pipe.empty();
                    return chunk != nullptr;
                });
                if (chunk && chunk->used)
                    pipe.filled(std::move(chunk));
            }
        } catch (...) {
            error = std::current_exception();
        }
        pipe.end(error);
    });
    bool complete = true;
    try {
        while (auto chunk = pipe.next()) {
            for (size_t i = 0; i < chunk->used && complete; ++i)
                complete = onRow(chunk->rows[i], chunk->prepared[i], chunk->notes[i]);
            pipe.giveBack(std::move(chunk));
            if (!complete)
                break;
        }
    } catch (...) {
        pipe.stop();
        reader.join();
        throw;
    }
    pipe.stop();
    reader.join();
    if (auto error = pipe.error(); error && complete)
        std::rethrow_exception(error);
    return complete;
}

} // namespace vemo::engine
