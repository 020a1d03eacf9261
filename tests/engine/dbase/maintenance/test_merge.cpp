// Trees that shrink: random inserts and removals straight on the B-tree of an MDX tag and of
// an NDX file against a model, the files walked by the engine's independent reader and by
// Perl's after each batch, and the page bookkeeping (fill of every page, the free list, the
// counts in the headers) checked from the bytes.
#include "Maintenance.h"
#include "engine/drivers/standard/dbase/FileIO.h"
#include "engine/drivers/standard/dbase/IndexTree.h"

#include <set>

using namespace maint;
using dbase::IndexEntry;
using dbase::IndexTag;

namespace {

uint32_t le32At(const std::string& b, size_t at) {
    return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 | uint32_t(uint8_t(b[at + 2])) << 16 |
           uint32_t(uint8_t(b[at + 3])) << 24;
}

struct Shape {
    size_t pages = 0;    // pages in the tree
    int depth = 0;
    std::string problems;
};

// Walks the tree from the bytes: every page but the root at least a quarter full (as a tree
// that only this program wrote from empty must be), every leaf at one depth.
Shape shapeOf(const std::string& b, uint32_t root, size_t pageBytes, size_t head, size_t entryLen, bool ndx) {
    Shape s;
    const uint32_t maxKeys = uint32_t((pageBytes - head - (ndx ? entryLen : 4)) / entryLen);
    const uint32_t minFill = std::max<uint32_t>(1, maxKeys / 4);
    int leafDepth = -1;
    std::function<void(uint32_t, int)> walk = [&](uint32_t page, int depth) {
        const size_t at = size_t(page) * 512;
        if (at + pageBytes > b.size() || depth > 40) {
            s.problems += "page " + std::to_string(page) + " outside; ";
            return;
        }
        ++s.pages;
        const uint32_t n = le32At(b, at);
        const uint32_t tail = le32At(b, at + head + n * entryLen);
        if (depth > 0 && (tail ? n + 1 < 2 || n < minFill : n < minFill))
            s.problems += "page " + std::to_string(page) + " holds " + std::to_string(n) + "; ";
        if (!tail) {
            if (leafDepth >= 0 && leafDepth != depth)
                s.problems += "leaves at depths " + std::to_string(leafDepth) + " and " + std::to_string(depth) + "; ";
            leafDepth = depth;
            s.depth = std::max(s.depth, depth);
            return;
        }
        for (uint32_t i = 0; i < n; ++i)
            walk(le32At(b, at + head + i * entryLen), depth + 1);
        walk(tail, depth + 1);
    };
    walk(root, 0);
    return s;
}

class TreeMerge : public ::testing::Test {
protected:
    // A one-tag MDX (or an NDX) written empty, as a new table's would be.
    void makeMdx(char type, int keyLength) {
        tag_ = IndexTag{};
        tag_.name = "K";
        tag_.expression = "K";
        tag_.keyType = type;
        tag_.keyLength = keyLength;
        tag_.file = dir_.path() / "X.MDX";
        dbase::writeMdx(tag_.file, "X", {tag_}, {{}});
    }
    void makeNdx(int keyLength) {
        tag_ = IndexTag{};
        tag_.name = "X";
        tag_.expression = "K";
        tag_.keyLength = keyLength;
        tag_.ndx = true;
        tag_.file = dir_.path() / "X.NDX";
        dbase::writeNdx(tag_.file, tag_, {});
    }

    // Inserts and removes (key, record) pairs as `next` says until `steps` are done, checking
    // the file against the model every `batch` steps.
    template <typename Next>
    void run(int steps, int batch, Next next) {
        for (int done = 0; done < steps;) {
            {
                dbase::File f(tag_.file, true);
                dbase::IndexTree tree(f, tag_, [](uint64_t, size_t) {});
                for (int k = 0; k < batch && done < steps; ++k, ++done) {
                    auto [insert, key, recno] = next(model_);
                    if (insert) {
                        tree.insert(key, recno);
                        model_.insert({key, recno});
                    } else {
                        ASSERT_TRUE(tree.remove(key, recno)) << "step " << done;
                        model_.erase({key, recno});
                    }
                }
                ASSERT_FALSE(tree.remove(std::string(size_t(tag_.keyLength), '\x01'), 999999)) << "no such entry";
            }
            ASSERT_EQ(check(), "") << "after step " << done;
        }
    }

    // What is wrong with the file; empty when nothing.
    std::string check() {
        std::string out;
        std::vector<IndexEntry> entries = dbase::readIndexEntries(tag_);
        std::vector<std::pair<std::string, uint32_t>> walked;
        for (const auto& e : entries)
            walked.push_back({e.key, e.recno});
        std::vector<std::pair<std::string, uint32_t>> want(model_.begin(), model_.end());
        if (walked != want)
            out += "entries differ from the model (" + std::to_string(walked.size()) + " for " +
                   std::to_string(want.size()) + "); ";
        const std::string b = dbtest::bytesOf(tag_.file);
        if (tag_.ndx) {
            shape_ = shapeOf(b, le32At(b, 0), 512, 4, le16(b, 18), true);
            if (le32At(b, 4) * 512 > b.size() + 512)
                out += "page count past the file; ";
        } else {
            const uint32_t th = le32At(b, 544) * 512;
            shape_ = shapeOf(b, le32At(b, th), 1024, 8, le16(b, th + 18), false);
            // The free list: pages outside the tree, counted in the header; the tag's page
            // count is its tree's.
            std::set<uint32_t> free;
            for (uint32_t p = le32At(b, 36); p != 0 && free.size() < 100000; p = le32At(b, size_t(p) * 512))
                if (!free.insert(p).second || size_t(p) * 512 >= b.size())
                    return out + "free list loops or leaves the file; ";
            if (le32At(b, 40) != free.size() * 2)
                out += "free blocks " + std::to_string(le32At(b, 40)) + " for " + std::to_string(free.size()) + " pages; ";
            if (le32At(b, th + 4) != shape_.pages * 2)
                out += "tag page count " + std::to_string(le32At(b, th + 4)) + " for " + std::to_string(shape_.pages) + " pages; ";
            // Header (4 blocks), the tag header (2), the tree and the free pages: every block.
            if (le32At(b, 32) != 4 + 2 + shape_.pages * 2 + free.size() * 2)
                out += "next block " + std::to_string(le32At(b, 32)) + " is not the pages' sum; ";
        }
        out += shape_.problems;
        if (out.empty() && !model_.empty()) {
            std::vector<int64_t> perl = perlWalk(tag_.file, tag_.ndx ? "" : tag_.name), mine;
            for (const auto& [k, r] : want)
                mine.push_back(r);
            if (perl != mine)
                out += "Perl's walk differs; ";
        }
        return out;
    }
    static uint32_t le16(const std::string& b, size_t at) { return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8; }

    dbtest::TempDir dir_;
    IndexTag tag_;
    std::set<std::pair<std::string, uint32_t>> model_; // byte order of the keys, then the record
    Shape shape_;
};

using Step = std::tuple<bool, std::string, uint32_t>;

std::string key10(unsigned v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%010u", v);
    return buf;
}

} // namespace

// Grown and shrunk three times at random: the tree stays shallow and every page stays at
// least a quarter full; emptied down to nothing it is one empty leaf, every other page on
// the free list, and the free pages are taken again as it grows.
TEST_F(TreeMerge, RandomGrowthAndShrinkageKeepsPagesFilledAndTheFreeListRight) {
    makeMdx('C', 10);
    std::mt19937 rng(7);
    uint32_t recno = 0;
    for (int round = 0; round < 3; ++round) {
        run(6000, 1500, [&](auto& model) {
            const bool insert = model.empty() || rng() % 100 < 70;
            if (insert)
                return Step{true, key10(rng() % 3000), ++recno};
            auto it = std::next(model.begin(), long(rng() % model.size()));
            return Step{false, it->first, it->second};
        });
        const size_t grown = shape_.pages;
        run(int(model_.size()), 500, [&](auto& model) {
            auto it = std::next(model.begin(), long(rng() % model.size()));
            return Step{false, it->first, it->second};
        });
        EXPECT_EQ(shape_.pages, 1u) << "round " << round << ": an empty tree is its root alone (was " << grown << ")";
        EXPECT_EQ(shape_.depth, 0);
    }
}

// Removals at the edges: always the first entry (the first leaf and the branches' first
// children merge), always the last (the trailing children), then all of one key among many
// equal ones, then down to a few, where the root collapses a level.
TEST_F(TreeMerge, RemovalsAtTheEdgesMergeFirstAndLastPagesAndCollapseTheRoot) {
    makeMdx('C', 10);
    uint32_t recno = 0;
    run(8000, 4000, [&](auto&) {
        ++recno;
        return Step{true, key10(recno % 400), recno};
    });
    const int deep = shape_.depth;
    EXPECT_GE(deep, 2);
    run(2500, 500, [&](auto& model) { return Step{false, model.begin()->first, model.begin()->second}; });
    run(2500, 500, [&](auto& model) { return Step{false, std::prev(model.end())->first, std::prev(model.end())->second}; });
    // Every entry of one key that spans several pages.
    const std::string middle = model_.lower_bound({key10(200), 0})->first;
    std::vector<uint32_t> equal;
    for (const auto& [k, r] : model_)
        if (k == middle)
            equal.push_back(r);
    ASSERT_GT(equal.size(), 10u);
    size_t i = 0;
    run(int(equal.size()), 7, [&](auto&) { return Step{false, middle, equal[i++]}; });
    run(int(model_.size()) - 20, 1000, [&](auto& model) {
        auto it = std::next(model.begin(), long(model.size() / 2));
        return Step{false, it->first, it->second};
    });
    EXPECT_EQ(shape_.depth, 0) << "twenty keys fit the root";
}

// Keys of the greatest length (few to a page, so pages merge and share out often), in the
// double-byte code page 932, whose bytes above 0x7F must order as unsigned.
TEST_F(TreeMerge, MaximumLengthJapaneseKeysMergeAndShareOut) {
    makeMdx('C', 100);
    std::mt19937 rng(3);
    const std::string kana[] = {"\x83\x41", "\x83\x4A", "\x93\xFA", "\x96\x7B", "\x88\xA2", "AB", "zz"};
    auto key = [&] {
        std::string k;
        while (k.size() < 96)
            k += kana[rng() % 7];
        k.resize(100, ' ');
        return k;
    };
    uint32_t recno = 0;
    run(12000, 2000, [&](auto& model) {
        const unsigned r = rng() % 100;
        if (model.size() < 50 || r < (model.size() > 800 ? 35u : 60u))
            return Step{true, key(), ++recno};
        auto it = std::next(model.begin(), long(rng() % model.size()));
        return Step{false, it->first, it->second};
    });
}

// An NDX file (no free list): pages given up stay in the file unreferenced, the tree that
// remains is right, and numbers order by value.
TEST_F(TreeMerge, NdxTreesShrinkAndPagesGivenUpStayUnreferenced) {
    makeNdx(40);
    std::mt19937 rng(11);
    uint32_t recno = 0;
    run(9000, 3000, [&](auto& model) {
        if (model.size() < 100 || rng() % 100 < 55)
            {
            std::string k = "N" + std::to_string(rng() % 5000);
            k.resize(40, ' ');
            return Step{true, k, ++recno};
        }
        auto it = std::next(model.begin(), long(rng() % model.size()));
        return Step{false, it->first, it->second};
    });
    const uint64_t size = std::filesystem::file_size(tag_.file);
    run(int(model_.size()), 1000, [&](auto& model) { return Step{false, model.begin()->first, model.begin()->second}; });
    EXPECT_EQ(shape_.pages, 1u);
    EXPECT_EQ(std::filesystem::file_size(tag_.file), size) << "the file keeps its pages";
}
