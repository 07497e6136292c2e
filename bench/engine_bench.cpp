// Builds a tree with the engine from a CSV file or from generated data and prints the
// build time. The engine is created through the runtime, as the program does.
//
//   engine_bench --csv FILE --kinds K0,K1,...,Kn --prune RATE --minitems M [--dump OUT.csv]
//   engine_bench --generate ROWS,CONT,DISC,CLASSES,MISSING,SEED --prune RATE --minitems M [--dump OUT.csv]
//   ... [--threads 1,all --repeat N]
//   ... --reprune R1,R2,... [--dump OUT.csv]
//   engine_bench --generate ... --save OUT.csv
// With --threads, the tree is built N times with each thread count in turn (through
// TESSARY_ENGINE_THREADS; "all" leaves it to the machine); the medians, their ratio to the first count, and whether
// every tree equals the first one are printed.
// With --save, the generated rows are written as CSV (unknown values as -999, the
// engine's own mark) for a peer to read, and nothing is built.
// With --reprune, the tree is built once and then pruned again at each rate in turn (only
// the rate changes, so the engine prunes its grown tree again); each time and their
// median are printed, and --dump writes every pruned tree, one after the other.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "BenchTiming.h"
#include "com/com.h"
#include "trx/ITRXTree.h"

namespace {

struct Table {
    int fields = 0;
    std::vector<int> kinds;
    std::vector<float> values;  // row after row
    size_t Rows() const { return fields ? values.size() / size_t(fields) : 0; }
};

[[noreturn]] void Usage(const char* why) {
    std::fprintf(stderr,
                 "engine_bench: %s\n"
                 "usage: engine_bench --csv FILE --kinds K0,...,Kn --prune RATE --minitems M [--dump OUT.csv]\n"
                 "       engine_bench --generate ROWS,CONT,DISC,CLASSES,MISSING,SEED --prune RATE --minitems M "
                 "[--dump OUT.csv]\n",
                 why);
    std::exit(2);
}

std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> out;
    std::string cur;
    for (char ch : s) {
        if (ch == sep) {
            out.push_back(cur);
            cur.clear();
        } else if (ch != '\r') {
            cur += ch;
        }
    }
    out.push_back(cur);
    return out;
}

std::string Trim(const std::string& s) {
    size_t a = s.find_first_not_of(" \t"), b = s.find_last_not_of(" \t");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

// Rows one at a time; false at the end (or on a fault, said on stderr).
using RowSource = std::function<bool(float* row)>;

RowSource CsvRows(const std::string& path, int fields) {
    auto in = std::make_shared<std::ifstream>(path);
    std::string line;
    if (!*in || !std::getline(*in, line)) Usage("cannot read the CSV file");  // the header
    return [in, fields](float* row) {
        std::string line;
        while (std::getline(*in, line)) {
            if (Trim(line).empty()) continue;
            std::vector<std::string> cells = Split(line, ',');
            if (int(cells.size()) != fields) {
                std::fprintf(stderr, "engine_bench: a row has %zu fields, expected %d\n", cells.size(), fields);
                std::exit(2);
            }
            for (const std::string& c : cells) {
                std::string v = Trim(c);
                *row++ = v.empty() || v == "?" ? kTRXMissingValue : std::strtof(v.c_str(), nullptr);
            }
            return true;
        }
        return false;
    };
}

// Deterministic generator (splitmix64).
struct Rng {
    uint64_t s;
    uint64_t Next() {
        uint64_t z = (s += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double Uniform() { return double(Next() >> 11) * (1.0 / 9007199254740992.0); }
};

// Continuous values on a 0.1 grid over 0..100 (many ties), discrete fields with 2 to
// 12 values; the class follows a few of the fields, with 10 % of the labels random.
RowSource GeneratedRows(const std::string& text, int* fields, std::vector<int>* kinds) {
    std::vector<std::string> p = Split(text, ',');
    if (p.size() != 6) Usage("--generate needs ROWS,CONT,DISC,CLASSES,MISSING,SEED");
    const long rows = std::atol(p[0].c_str());
    const int cont = std::atoi(p[1].c_str()), disc = std::atoi(p[2].c_str()), classes = std::atoi(p[3].c_str());
    const double missing = std::atof(p[4].c_str()) / 100.0;
    if (rows < 1 || cont < 0 || disc < 0 || cont + disc < 1 || classes < 1) Usage("bad --generate values");
    *fields = cont + disc + 1;
    kinds->assign(size_t(cont), TRXFIELD_CONTINUOUS);
    kinds->insert(kinds->end(), size_t(disc), TRXFIELD_DISCRETE);
    kinds->push_back(TRXFIELD_CLASS);
    auto rng = std::make_shared<Rng>(Rng{uint64_t(std::atoll(p[5].c_str()))});
    return [=, made = 0L](float* row) mutable {
        if (made == rows) return false;
        ++made;
        std::vector<double> x(static_cast<size_t>(cont));
        std::vector<int> d(static_cast<size_t>(disc));
        for (int i = 0; i < cont; ++i) x[i] = std::round(rng->Uniform() * 1000.0) / 10.0;
        for (int k = 0; k < disc; ++k) d[k] = 1 + int(rng->Next() % uint64_t(2 + k % 11));
        double score = 0;
        if (cont > 0) score += x[0] / 100.0;
        if (cont > 1) score += 0.5 * (x[1] > 60 ? 1 : 0);
        if (disc > 0) score += 0.3 * (d[0] == 1 ? 1 : 0);
        if (disc > 1) score += 0.2 * (d[1] % 2);
        int cls = int(score / 2.0 * classes);
        if (cls >= classes) cls = classes - 1;
        if (rng->Uniform() < 0.10) cls = int(rng->Next() % uint64_t(classes));
        for (int i = 0; i < cont; ++i) *row++ = rng->Uniform() < missing ? kTRXMissingValue : float(x[i]);
        for (int k = 0; k < disc; ++k) *row++ = rng->Uniform() < missing ? kTRXMissingValue : float(d[k]);
        *row = float(cls);
        return true;
    };
}

Table ReadAll(const RowSource& next, int fields, const std::vector<int>& kinds) {
    Table t;
    t.fields = fields;
    t.kinds = kinds;
    std::vector<float> row(static_cast<size_t>(fields));
    while (next(row.data())) t.values.insert(t.values.end(), row.begin(), row.end());
    return t;
}

RowSource TableRows(const Table& t) {
    return [&t, at = size_t(0)](float* row) mutable {
        if (at == t.Rows()) return false;
        std::copy_n(&t.values[at * size_t(t.fields)], t.fields, row);
        ++at;
        return true;
    };
}

bool Save(const RowSource& next, int fields, const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f) return false;
    for (int j = 0; j < fields; ++j) std::fprintf(f, j + 1 < fields ? "f%d," : "class\n", j);
    std::vector<float> row(static_cast<size_t>(fields));
    while (next(row.data()))
        for (int j = 0; j < fields; ++j) std::fprintf(f, "%.9g%c", double(row[size_t(j)]), j + 1 < fields ? ',' : '\n');
    return std::fclose(f) == 0;
}

void Check(HRESULT hr, ITRXTree* trx, const char* what) {
    if (SUCCEEDED(hr)) return;
    std::string text;
    if (trx) com::TakeErrorInfo(trx, IID_ITRXTree, &text);
    std::fprintf(stderr, "engine_bench: %s failed (0x%08X) %s\n", what, unsigned(hr), text.c_str());
    std::exit(1);
}

float R4(const VARIANT& v) { return v.vt == VT_R4 ? v.fltVal : 0.0f; }
int I2(const VARIANT& v) { return v.vt == VT_I2 ? v.iVal : 0; }

// The tree as CSV text, one line per node.
std::string Dump(SAFEARRAY* nodes, SAFEARRAY* kids) {
    LONG n = 0, w = 0;
    SafeArrayGetUBound(nodes, 2, &n);
    ++n;
    SafeArrayGetUBound(kids, 1, &w);
    ++w;
    VARIANT* nd = nullptr;
    SHORT* ci = nullptr;
    SafeArrayAccessData(nodes, reinterpret_cast<void**>(&nd));
    SafeArrayAccessData(kids, reinterpret_cast<void**>(&ci));
    std::string out = "node,type,forks,field,cut,disclass,class,items,errors,children\n";
    char line[256];
    for (LONG i = 0; i < n; ++i) {
        const VARIANT* c = nd + size_t(i) * 8;
        std::string children;
        for (int b = 0; b < I2(c[1]) && b < w; ++b) {
            int child = ci[size_t(i) * size_t(w) + size_t(b)];
            if (!child) continue;
            if (!children.empty()) children += ' ';
            children += std::to_string(child);
        }
        std::snprintf(line, sizeof line, "%ld,%d,%d,%d,%.9g,%d,%d,%.9g,%.9g,", long(i), I2(c[0]), I2(c[1]), I2(c[2]),
                      double(R4(c[3])), I2(c[4]), I2(c[5]), double(R4(c[6])), double(R4(c[7])));
        out += line;
        out += children;
        out += '\n';
    }
    SafeArrayUnaccessData(kids);
    SafeArrayUnaccessData(nodes);
    return out;
}

struct Run {
    size_t rows = 0;
    double load = 0, build = 0;
    long nodes = 0;
    std::string tree;
};

// One build on `trx`, timed; the tree kept as text when asked.
Run Build(ITRXTree* trx, bool keepTree) {
    SAFEARRAY* nodes = nullptr;
    SAFEARRAY* kids = nullptr;
    auto t0 = std::chrono::steady_clock::now();
    Check(trx->BuildTree(&nodes, &kids), trx, "BuildTree");
    Run run;
    run.build = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    LONG n = -1;
    if (nodes) SafeArrayGetUBound(nodes, 2, &n);
    run.nodes = long(n) + 1;
    if (keepTree && nodes && kids) run.tree = Dump(nodes, kids);
    if (nodes) SafeArrayDestroy(nodes);
    if (kids) SafeArrayDestroy(kids);
    return run;
}

// A fresh engine loaded with the rows in batches of 100, and one build. The rows are
// read as they are passed on, as the program passes them from its database, so that
// the process's memory is the engine's; the largest codes are set once all are in.
// With `rates`, the tree is then pruned again at each of them.
Run BuildOnce(const RowSource& next, int nf, const std::vector<int>& kinds, float prune, long minItems,
              bool keepTree, const std::vector<float>* rates = nullptr) {
    com::ComPtr<ITRXTree> trx;
    HRESULT hr = com::CreateInstance(kTRXTreeProgId, IID_ITRXTree, trx.PutVoid());
    if (FAILED(hr)) {
        std::fprintf(stderr, "engine_bench: cannot create %s (0x%08X); is TESSARY_CLASSES set?\n", kTRXTreeProgId,
                     unsigned(hr));
        std::exit(1);
    }
    Check(trx->Initialize(SHORT(nf)), trx.Get(), "Initialize");
    for (int j = 0; j < nf; ++j) Check(trx->put_FieldType(SHORT(j), SHORT(kinds[j])), trx.Get(), "FieldType");
    Check(trx->put_PruneRate(prune), trx.Get(), "PruneRate");
    Check(trx->put_MinItems(LONG(minItems)), trx.Get(), "MinItems");

    std::vector<float> top(static_cast<size_t>(nf), 0.0f);
    std::vector<float> batch(size_t(nf) * 100);
    double load = 0;
    size_t rows = 0;
    for (bool more = true; more;) {
        size_t n = 0;
        while (n < 100 && (more = next(&batch[n * size_t(nf)]))) ++n;
        if (n == 0) break;
        for (size_t r = 0; r < n; ++r)
            for (int j = 0; j < nf; ++j) {
                const float v = batch[r * size_t(nf) + size_t(j)];
                if (v != kTRXMissingValue && v > top[size_t(j)]) top[size_t(j)] = v;
            }
        auto t0 = std::chrono::steady_clock::now();
        SAFEARRAYBOUND b[2] = {{ULONG(nf), 0}, {ULONG(n), 0}};
        SAFEARRAY* a = SafeArrayCreate(VT_R4, 2, b);
        void* data = nullptr;
        SafeArrayAccessData(a, &data);
        std::memcpy(data, batch.data(), n * size_t(nf) * sizeof(float));
        SafeArrayUnaccessData(a);
        hr = trx->AddData(&a);
        SafeArrayDestroy(a);
        Check(hr, trx.Get(), "AddData");
        load += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        rows += n;
    }
    if (rows == 0) Usage("no rows");
    for (int j = 0; j < nf; ++j) {
        if (kinds[j] != TRXFIELD_DISCRETE && kinds[j] != TRXFIELD_CLASS) continue;
        const int count = int(top[size_t(j)]) + (kinds[j] == TRXFIELD_CLASS ? 1 : 0);
        Check(trx->put_MaxClass(SHORT(j), SHORT(count)), trx.Get(), "MaxClass");
    }
    Run run = Build(trx.Get(), keepTree);
    run.load = load;
    run.rows = rows;
    if (rates) {
        std::vector<double> times;
        for (float rate : *rates) {
            Check(trx->put_PruneRate(rate), trx.Get(), "PruneRate");
            Run again = Build(trx.Get(), keepTree);
            times.push_back(again.build);
            std::printf("re-prune at %g: %.4f s, nodes %ld\n", double(rate), again.build, again.nodes);
            run.tree += again.tree;
        }
        std::printf("re-prune median %.4f s (%zu rates)\n", Median(times), times.size());
    }
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    std::string csv, kinds, generate, dump, threadList, reprune, save;
    int repeat = 5;
    float prune = -1;
    long minItems = -1;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) Usage(("missing value after " + a).c_str());
            return argv[++i];
        };
        if (a == "--csv") csv = value();
        else if (a == "--kinds") kinds = value();
        else if (a == "--generate") generate = value();
        else if (a == "--prune") prune = std::strtof(value().c_str(), nullptr);
        else if (a == "--minitems") minItems = std::atol(value().c_str());
        else if (a == "--dump") dump = value();
        else if (a == "--threads") threadList = value();
        else if (a == "--reprune") reprune = value();
        else if (a == "--save") save = value();
        else if (a == "--repeat") repeat = std::max(1, std::atoi(value().c_str()));
        else Usage(("unknown argument " + a).c_str());
    }
    if (csv.empty() == generate.empty()) Usage("give either --csv or --generate");
    if (save.empty() && (prune < 0 || minItems < 0)) Usage("--prune and --minitems are required");
#ifdef TESSARY_CLASSES_DEFAULT
    setenv("TESSARY_CLASSES", TESSARY_CLASSES_DEFAULT, 0);
#endif

    int fields = 0;
    std::vector<int> kindList;
    RowSource source;
    if (!csv.empty()) {
        if (kinds.empty()) Usage("--csv needs --kinds");
        for (const std::string& k : Split(kinds, ',')) kindList.push_back(std::atoi(k.c_str()));
        fields = int(kindList.size());
        if (fields < 2 || kindList.back() != TRXFIELD_CLASS) Usage("--kinds must end with the class kind 3");
        source = CsvRows(csv, fields);
    } else {
        source = GeneratedRows(generate, &fields, &kindList);
    }
    if (!save.empty()) return Save(source, fields, save) ? 0 : 1;

    CoInitialize(nullptr);
    if (threadList.empty()) {
        std::vector<float> rates;
        for (const std::string& r : reprune.empty() ? std::vector<std::string>() : Split(reprune, ','))
            rates.push_back(std::strtof(r.c_str(), nullptr));
        Run run = BuildOnce(source, fields, kindList, prune, minItems, !dump.empty(),
                            reprune.empty() ? nullptr : &rates);
        std::printf("rows %zu, fields %d, nodes %ld\n", run.rows, fields - 1, run.nodes);
        std::printf("load %.3f s, build %.3f s, %.0f rows/s\n", run.load, run.build,
                    run.build > 0 ? double(run.rows) / run.build : 0.0);
        if (!dump.empty()) {
            std::FILE* f = std::fopen(dump.c_str(), "w");
            if (!f || std::fputs(run.tree.c_str(), f) < 0 || std::fclose(f) != 0) {
                std::fprintf(stderr, "engine_bench: cannot write %s\n", dump.c_str());
                return 1;
            }
        }
        return 0;
    }
    // Built again and again: the rows are read once and kept.
    const Table t = ReadAll(source, fields, kindList);
    const size_t rows = t.Rows();
    if (rows == 0) Usage("no rows");
    std::printf("rows %zu, fields %d\n", rows, t.fields - 1);
    std::string first;
    double base = 0;
    bool same = true;
    for (const std::string& count : Split(threadList, ',')) {
        // "all": the engine's own choice, the machine's threads.
        if (count == "all") unsetenv("TESSARY_ENGINE_THREADS");
        else setenv("TESSARY_ENGINE_THREADS", count.c_str(), 1);
        std::vector<double> times;
        long nodes = 0;
        for (int i = 0; i < repeat; ++i) {
            Run run = BuildOnce(TableRows(t), t.fields, t.kinds, prune, minItems, true);
            times.push_back(run.build);
            nodes = run.nodes;
            if (first.empty()) first = run.tree;
            else if (run.tree != first) same = false;
        }
        const double median = Median(times);
        if (base == 0) base = median;
        std::printf("threads %-3s nodes %ld  build median %.3f s (min %.3f, max %.3f, %d runs)  ratio %.2f\n",
                    count.c_str(), nodes, median, times.front(), times.back(), repeat, base / median);
        std::fflush(stdout);
    }
    std::printf("trees %s\n", same ? "identical" : "DIFFER");
    return same ? 0 : 1;
}
