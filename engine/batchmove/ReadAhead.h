#pragma once
// Reads a source cursor on a thread of its own, a few chunks of records ahead of the
// writer, so that decoding the source and writing the destination use two cores. Memory
// stays bounded by the chunks in flight.
#include "engine/contract/Cursor.h"

#include <functional>

namespace vemo::engine {

// Hands every record of `source` (from its first, in its current order) to onRow on the
// calling thread until onRow returns false or the records end; returns false in the first
// case. What the reading thread throws is thrown here; what onRow throws stops the reading
// thread first. The cursor must not be used elsewhere meanwhile.
bool scanAhead(Cursor& source, const std::function<bool(const Row&)>& onRow, size_t chunkRows = 512,
               size_t chunksAhead = 4);

// The same, with part of the work on each record done on the reading thread: prepare turns
// a record into `prepared` (a row whose buffers are reused from record to record) and a
// number of its own, and onRow gets all three on the calling thread. prepare must not touch
// what onRow changes.
using PrepareRow = std::function<int(const Row& source, Row& prepared)>;
bool scanAhead(Cursor& source, const PrepareRow& prepare,
               const std::function<bool(const Row& source, const Row& prepared, int note)>& onRow,
               size_t chunkRows = 512, size_t chunksAhead = 4);

} // namespace vemo::engine
