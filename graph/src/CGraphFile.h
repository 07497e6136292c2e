// The graph file: what SaveAs writes and LoadFrom reads, as plain data. Writing
// always produces the newest layout (version code 3); reading accepts codes 1
// to 3. Reading checks the whole file before anything is handed back, so a
// damaged file never half-replaces a graph.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "GraphGeometry.h"

namespace nodars {

class CGraphFile {
public:
    static constexpr const char* kHeader10 = "Nodaris 1.0";
    static constexpr const char* kHeader11 = "Nodaris 1.1";
    static constexpr const char* kHeader12 = "Nodaris 1.2a";

    struct Font {
        bool bold = false, italic = false, strikeout = false, underline = false;
        std::optional<std::u16string> name;
        float size = 0;  // points / 10 (the stored currency value x 0.00001)
    };
    struct Picture {
        int16_t type = 0;
        std::optional<std::u16string> name;
        GRect bounds;
        std::vector<uint8_t> data;
    };
    struct Connection {
        int16_t source = 0;  // file position of the source item
        int32_t id = 0;
        int16_t fromHandle = 3, toHandle = 1;
        std::optional<std::u16string> label;
        int32_t data = 0;
        uint32_t color = 0;
        int16_t lineWidth = -1, arrow = 1, align = 1;
    };
    struct Item {
        int32_t id = 0, data = 0;
        std::optional<std::u16string> name;
        int16_t shape = 1;
        uint32_t fill = 0xFFFFFF, border = 0, text = 0;
        int16_t breadth = 0, layer = 0, slot = 0;
        GRect rect;
        int16_t drawLabel = 1, labelAlign = 4;
        GRect labelRect;
        std::optional<std::u16string> graphic;  // name of the picture entry
        int16_t graphicStyle = 3, graphicAlign = 4;
        GRect graphicRect;
        int16_t primary = -1;  // file position of the primary neighbour
        std::vector<Connection> incoming;
    };

    int16_t version = 3;
    // Settings
    int16_t arrangeMode = 0;
    uint32_t backColor = 0xFFFFFF;
    bool drawArrows = true;
    int16_t drawBackLinks = 2;
    bool drawColored = true, drawConnLabels = true;
    int16_t drawDir = 3;
    bool drawHandles = true, drawItemLabels = true;
    int16_t drawScale = 100;
    uint32_t fillColor = 0xFFFFFF;
    Font font;
    uint32_t foreColor = 0;
    int16_t gap = 10, lineWidth = 0, xSpace = 20, xSpan = 120, ySpace = 20, ySpan = 50;
    // View state
    int16_t maxLayer = 0, nextItemId = 1, nextConnectionId = 1, newIndex = -1;
    GRect viewRect;
    int16_t hScroll = 0, vScroll = 0;
    std::vector<Picture> pictures;
    std::vector<Item> items;

    std::vector<uint8_t> Write() const;

    enum class ReadResult { Ok, BadHeader, Damaged, UnknownVersion };
    // Fills this object from the bytes. UnknownVersion: the header was good but
    // the version code is not 1, 2 or 3 (nothing after it is read).
    ReadResult Read(const std::vector<uint8_t>& bytes);

    // Font size value (currency, points x 10000) to the stored float and back,
    // rounded to the nearest unit so a size survives any number of round trips.
    static float SizeToFile(int64_t currency);
    static int64_t SizeFromFile(float value);
};

}  // namespace nodars
