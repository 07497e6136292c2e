// The stored form of a tree: a 32-byte header ("~*TRX", the writer's version,
// "*", node count, branch slots, 16 reserved zero bytes), then per node the
// eight values in 22 bytes (little-endian 16-bit integers and IEEE singles)
// and its children as 16-bit integers. No length and no trailer, so the reader
// checks every piece against the bytes that are left.
#pragma once

#include <cstdint>
#include <string>

#include "CTreeModel.h"

class CTreeBlob {
public:
    static constexpr int kHeaderSize = 32;
    static constexpr int kRecordSize = 22;
    static constexpr int16_t kMajor = 2;
    static constexpr int16_t kMinor = 1;
    static constexpr int16_t kRevision = 16;

    enum class Result {
        Loaded,      // the model holds the stored tree
        NoTree,      // empty, or no marker: nothing stored, nothing changed
        NotThisVersion,  // written by a newer program, or below 1.0: ignored
    };

    // Bytes of the tree, one char per byte.
    static std::string Pack(const CTreeModel& tree, int16_t major = kMajor, int16_t minor = kMinor,
                            int16_t revision = kRevision);
    // Reads a stored tree into `tree` (changed only on Loaded). A blob with the
    // marker whose records run past its end, whose links are not a tree, or
    // whose thresholds or counts are not finite numbers throws CTreeError (13)
    // naming what is wrong.
    static Result Unpack(const std::string& bytes, CTreeModel* tree);
    // major x 100 + minor + revision / 100, in single precision as stored files compare it.
    static float VersionValue(int16_t major, int16_t minor, int16_t revision);
};
