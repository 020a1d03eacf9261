// The same measurements as bench_paradox, done with pxlib:
//   bench_paradox_peer FILE CSV
// Filter = records whose QTY field is 7; export = every field as text, CSV, no recoding.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>
extern "C" {
#include <paradox.h>
}

namespace {

double msSince(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t).count();
}

long rssKb() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

// Appends one field of a raw record as CSV text.
void fieldText(pxdoc_t* px, pxfield_t* f, char* data, std::string& out) {
    char buf[64];
    switch (f->px_ftype) {
    case pxfAlpha: {
        char* s = nullptr;
        if (PX_get_data_alpha(px, data, f->px_flen, &s) > 0 && s) {
            out += '"';
            out += s;
            out += '"';
            px->free(px, s);
        } else {
            out += "\"\"";
        }
        return;
    }
    case pxfShort: {
        short v;
        if (PX_get_data_short(px, data, f->px_flen, &v) > 0) out += std::to_string(v);
        return;
    }
    case pxfLong: case pxfAutoInc: {
        long v;
        if (PX_get_data_long(px, data, f->px_flen, &v) > 0) out += std::to_string(v);
        return;
    }
    case pxfDate: {
        long v;
        if (PX_get_data_long(px, data, f->px_flen, &v) > 0) {
            int y, m, d;
            PX_SdnToGregorian(v + 1721425, &y, &m, &d);
            std::snprintf(buf, sizeof buf, "\"%04d/%02d/%02d\"", y, m, d);
            out += buf;
        }
        return;
    }
    case pxfNumber: case pxfCurrency: {
        double v;
        if (PX_get_data_double(px, data, f->px_flen, &v) > 0) {
            std::snprintf(buf, sizeof buf, "\"%.15g\"", v);
            out += buf;
        }
        return;
    }
    default:
        return;
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_paradox_peer FILE CSV\n");
        return 2;
    }
    PX_boot();
    auto t = std::chrono::steady_clock::now();
    pxdoc_t* px = PX_new();
    if (PX_open_file(px, argv[1]) < 0) return 1;
    const int nf = PX_get_num_fields(px);
    pxfield_t* fields = PX_get_fields(px);
    std::vector<char> rec(size_t(PX_get_recordsize(px)));
    std::string line;
    for (int i = 0; i < 50; ++i) {
        PX_get_record(px, i, rec.data());
        line.clear();
        char* p = rec.data();
        for (int f = 0; f < nf; ++f) { fieldText(px, &fields[f], p, line); p += fields[f].px_flen; }
    }
    std::printf("open_first50_ms %.2f\n", msSince(t));
    std::printf("rss_open_kb %ld\n", rssKb());
    t = std::chrono::steady_clock::now();
    const int n = PX_get_num_records(px);
    std::printf("count_ms %.2f\n", msSince(t));
    t = std::chrono::steady_clock::now();
    PX_get_record(px, n - 1, rec.data());
    std::printf("last_ms %.2f\n", msSince(t));
    std::printf("count %d\n", n);
    // QTY is the last field.
    int qtyOffset = 0;
    for (int f = 0; f < nf - 1; ++f) qtyOffset += fields[f].px_flen;
    t = std::chrono::steady_clock::now();
    int matched = 0;
    for (int i = 0; i < n; ++i) {
        if (!PX_get_record(px, i, rec.data())) continue;
        short v;
        if (PX_get_data_short(px, rec.data() + qtyOffset, 2, &v) > 0 && v == 7) ++matched;
    }
    std::printf("filter_ms %.2f\n", msSince(t));
    std::printf("filter_count %d\n", matched);
    t = std::chrono::steady_clock::now();
    FILE* out = std::fopen(argv[2], "wb");
    for (int i = 0; i < n; ++i) {
        if (!PX_get_record(px, i, rec.data())) continue;
        line.clear();
        char* p = rec.data();
        for (int f = 0; f < nf; ++f) {
            if (f) line += ',';
            fieldText(px, &fields[f], p, line);
            p += fields[f].px_flen;
        }
        line += "\r\n";
        std::fwrite(line.data(), 1, line.size(), out);
    }
    std::fclose(out);
    std::printf("export_ms %.2f\n", msSince(t));
    std::printf("rss_end_kb %ld\n", rssKb());
    PX_close(px);
    PX_delete(px);
    PX_shutdown();
    return 0;
}
