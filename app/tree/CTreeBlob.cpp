#include "CTreeBlob.h"

#include <bit>
#include <cmath>
#include <cstring>

#include "CTreeError.h"

namespace {

const char kMarker[] = "~*TRX";

void PutI2(std::string& out, int16_t v) {
    const uint16_t u = uint16_t(v);
    out.push_back(char(u & 0xFF));
    out.push_back(char(u >> 8));
}

void PutR4(std::string& out, float f) {
    const uint32_t u = std::bit_cast<uint32_t>(f);
    for (int i = 0; i < 4; ++i) out.push_back(char((u >> (8 * i)) & 0xFF));
}

// Reads pieces at increasing offsets and never past the end.
class Reader {
public:
    explicit Reader(const std::string& b) : mBytes(b) {}
    size_t Left() const { return mBytes.size() - mPos; }
    void Need(size_t n, const char* what) const {
        if (Left() < n)
            throw CTreeError(treeerr::kTypeMismatch,
                             std::string("The stored tree in NodeData is damaged: it ends inside ") + what + " (" +
                                 std::to_string(mBytes.size()) + " bytes).");
    }
    int16_t I2() {
        const uint16_t u = uint16_t(uint8_t(mBytes[mPos])) | uint16_t(uint8_t(mBytes[mPos + 1]) << 8);
        mPos += 2;
        return int16_t(u);
    }
    float R4() {
        uint32_t u = 0;
        for (int i = 0; i < 4; ++i) u |= uint32_t(uint8_t(mBytes[mPos + size_t(i)])) << (8 * i);
        mPos += 4;
        return std::bit_cast<float>(u);
    }
    void Skip(size_t n) { mPos += n; }

private:
    const std::string& mBytes;
    size_t mPos = 0;
};

// The header's counts are checked against the bytes that follow before
// anything is sized by them: every node needs its record. The child index
// holds nodes x slots entries; a categorical field has at most 256 values, so
// a wider index is refused unless it stays small.
void CheckCountsFit(int count, int slots, size_t left) {
    const size_t records = size_t(count) * size_t(CTreeBlob::kRecordSize);
    if (records > left)
        throw CTreeError(treeerr::kTypeMismatch,
                         "The stored tree in NodeData is damaged: its header gives " + std::to_string(count) +
                             " nodes, more than its " + std::to_string(left) + " bytes can hold.");
    constexpr size_t kWidest = 256;
    constexpr size_t kSmallIndex = size_t(1) << 20;
    if (size_t(slots) > kWidest && size_t(slots) * size_t(count) > kSmallIndex)
        throw CTreeError(treeerr::kTypeMismatch,
                         "The stored tree in NodeData is damaged: its header gives " + std::to_string(slots) +
                             " branch slots for " + std::to_string(count) + " nodes.");
}

// A count, error or threshold that is no number, or infinite, would be shown as
// an arbitrary whole number and compare false with every value.
void CheckFinite(size_t node, const char* what, float value) {
    if (std::isfinite(value)) return;
    const std::string shown = std::isnan(value) ? "not a number" : (value < 0 ? "-inf" : "+inf");
    throw CTreeError(treeerr::kTypeMismatch, "The stored tree in NodeData is damaged: node " + std::to_string(node) +
                                                 " has " + what + " that is " + shown + ".");
}

}  // namespace

float CTreeBlob::VersionValue(int16_t major, int16_t minor, int16_t revision) {
    return float(major) * 100.0f + float(minor) + float(revision) / 100.0f;
}

std::string CTreeBlob::Pack(const CTreeModel& tree, int16_t major, int16_t minor, int16_t revision) {
    std::string out;
    const auto& nodes = tree.AllNodes();
    out.reserve(size_t(kHeaderSize) + nodes.size() * (size_t(kRecordSize) + 4));
    out.append(kMarker, 5);
    PutI2(out, major);
    PutI2(out, minor);
    PutI2(out, revision);
    out.push_back('*');
    PutI2(out, int16_t(nodes.size()));
    PutI2(out, int16_t(tree.Slots()));
    out.append(16, '\0');
    for (size_t n = 0; n < nodes.size(); ++n) {
        const TRXNode& t = nodes[n];
        PutI2(out, t.NodeType);
        PutI2(out, t.Forks);
        PutI2(out, t.FieldNum);
        PutR4(out, t.Cut);
        PutI2(out, t.DisClass);
        PutI2(out, t.Class);
        PutR4(out, t.Items);
        PutR4(out, t.Errors);
        for (int b = 0; b < t.Forks; ++b) PutI2(out, tree.Child(int32_t(n), b));
    }
    return out;
}

CTreeBlob::Result CTreeBlob::Unpack(const std::string& bytes, CTreeModel* tree) {
    if (bytes.size() < 5 || std::memcmp(bytes.data(), kMarker, 5) != 0) return Result::NoTree;
    Reader r(bytes);
    r.Need(kHeaderSize, "its header");
    r.Skip(5);
    const int16_t major = r.I2();
    const int16_t minor = r.I2();
    const int16_t revision = r.I2();
    const float stored = VersionValue(major, minor, revision);
    if (VersionValue(kMajor, kMinor, kRevision) < stored || stored < 100.0f) return Result::NotThisVersion;
    r.Skip(1);  // "*"
    const int16_t count = r.I2();
    int slots = r.I2();
    r.Skip(16);
    if (count <= 0)
        throw CTreeError(treeerr::kTypeMismatch,
                         "The stored tree in NodeData is damaged: its header gives " + std::to_string(count) +
                             " nodes.");
    if (slots <= 0) slots = 1;
    CheckCountsFit(count, slots, r.Left());

    std::vector<TRXNode> nodes(static_cast<size_t>(count));
    std::vector<int16_t> children(size_t(count) * size_t(slots), 0);
    for (size_t n = 0; n < nodes.size(); ++n) {
        r.Need(kRecordSize, "a node record");
        TRXNode& t = nodes[n];
        t.NodeType = r.I2();
        t.Forks = r.I2();
        t.FieldNum = r.I2();
        t.Cut = r.R4();
        t.DisClass = r.I2();
        t.Class = r.I2();
        t.Items = r.R4();
        t.Errors = r.R4();
        CheckFinite(n, "a threshold", t.Cut);
        CheckFinite(n, "an item count", t.Items);
        CheckFinite(n, "an error count", t.Errors);
        if (const std::string fault = CTreeModel::CountsFault(t); !fault.empty())
            throw CTreeError(treeerr::kTypeMismatch,
                             "The stored tree in NodeData is damaged: node " + std::to_string(n) + " " + fault + ".");
        if (t.Forks < 0 || t.Forks > slots)
            throw CTreeError(treeerr::kTypeMismatch, "The stored tree in NodeData is damaged: node " +
                                                             std::to_string(n) + " has " + std::to_string(t.Forks) +
                                                             " branches.");
        r.Need(2 * size_t(t.Forks), "the children of a node");
        for (int b = 0; b < t.Forks; ++b) children[n * size_t(slots) + size_t(b)] = r.I2();
    }
    if (r.Left() != 0)
        throw CTreeError(treeerr::kTypeMismatch, "The stored tree in NodeData is damaged: " +
                                                         std::to_string(r.Left()) +
                                                         " bytes follow the last node.");
    try {
        CTreeModel loaded;
        loaded.Assign(std::move(nodes), slots, std::move(children));
        *tree = std::move(loaded);
    } catch (const CTreeError& e) {
        throw CTreeError(treeerr::kTypeMismatch, std::string("The stored tree in NodeData is damaged: ") +
                                                        (std::string(e.what()).rfind("The tree is damaged: ", 0) == 0
                                                             ? std::string(e.what()).substr(21)
                                                             : std::string(e.what())));
    }
    return Result::Loaded;
}
