// Pictures: bitmap and metafile files read into the graphics table, kept byte
// for byte through graph files, and drawn inside their items.
#include <malloc.h>

#include <QAbstractScrollArea>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <cstdlib>
#include <map>

#include "GraphTestSupport.h"
#include "LargestAllocation.h"
#include "nodars/PropertyBag.h"
#include "ui/testing.h"

using graphtest::Control;
using namespace nodars;

namespace {

struct Bytes {
    QByteArray b;
    Bytes& S(int v) {
        b.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF));
        return *this;
    }
    Bytes& L(int64_t v) {
        for (int i = 0; i < 4; ++i) b.append(char((uint64_t(v) >> (8 * i)) & 0xFF));
        return *this;
    }
    Bytes& B(int v) {
        b.append(char(v));
        return *this;
    }
};

// A bitmap file: 14-byte file header, 40-byte info header, colour table, rows.
QByteArray Bitmap(int width, int height, int bits, uint32_t used, const QByteArray& table, const QByteArray& rows,
                  uint32_t imageSize = 0, uint32_t compression = 0) {
    Bytes f;
    f.B('B').B('M').L(54 + table.size() + rows.size()).L(0).L(54 + table.size());
    f.L(40).L(width).L(height).S(1).S(bits).L(compression).L(imageSize).L(2835).L(2835).L(used).L(0);
    f.b.append(table).append(rows);
    return f.b;
}

// An 8-bit 2 x 2 bitmap whose every pixel is palette entry 1 (red); no used-colour count.
QByteArray RedBitmap8() {
    QByteArray table(256 * 4, '\0');
    table[4 + 2] = char(0xFF);  // entry 1: blue, green, red, 0
    QByteArray rows;
    for (int r = 0; r < 2; ++r) rows.append(QByteArray("\x01\x01\x00\x00", 4));
    return Bitmap(2, 2, 8, 0, table, rows);
}

// A placeable metafile 100 x 100 whose left half is a blue rectangle without outline.
QByteArray BlueLeftHalf(uint32_t key = 0x9AC6CDD7u, int extraWords = 0) {
    Bytes rec;
    rec.L(7).S(0x02FC).S(0).L(0xFF0000).S(0);       // CreateBrushIndirect: solid blue
    rec.L(4).S(0x012D).S(0);                         // SelectObject 0
    rec.L(8).S(0x02FA).S(5).S(0).S(0).L(0);          // CreatePenIndirect: null pen
    rec.L(4).S(0x012D).S(1);                         // SelectObject 1
    rec.L(7).S(0x041B).S(100).S(50).S(0).S(0);       // Rectangle(0, 0, 50, 100)
    rec.L(4).S(0x7777).S(0);                         // a record the player does not know
    rec.L(3).S(0);                                   // end
    Bytes f;
    f.L(key).S(0).S(0).S(0).S(100).S(100).S(1440).L(0).S(0);
    const int words = 9 + rec.b.size() / 2;
    f.S(1).S(9).S(0x300).L(words + extraWords).S(2).L(8).S(0);
    f.b.append(rec.b);
    return f.b;
}

void Write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QImage Grab(Control& c) {
    auto* area = qobject_cast<QAbstractScrollArea*>(c.Host()->Widget());
    return area->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

int X(Control& c, int gx) { return c.Call(dispidGraphToScreenX, {com::Variant::I4(gx)}).ToI2() - 1; }
int Y(Control& c, int gy) { return c.Call(dispidGraphToScreenY, {com::Variant::I4(gy)}).ToI2() - 1; }

// Type, bounds and size of every entry, read from the stored Graphics blob.
struct Entry {
    int type;
    std::vector<int32_t> bounds;
    int32_t size;
};
std::vector<Entry> Entries(Control& c) {
    CPropertyBag bag;
    c.Host()->SaveProperties(&bag);
    const std::vector<uint8_t>* blob = bag.ReadBlob("Graphics");
    std::vector<Entry> out;
    if (!blob) return out;
    auto i16 = [&](size_t at) { return int16_t((*blob)[at] | (*blob)[at + 1] << 8); };
    auto i32 = [&](size_t at) {
        return int32_t(uint32_t((*blob)[at]) | uint32_t((*blob)[at + 1]) << 8 | uint32_t((*blob)[at + 2]) << 16 |
                       uint32_t((*blob)[at + 3]) << 24);
    };
    size_t at = 6;
    for (int n = i16(4); n > 0; --n) {
        Entry e;
        e.type = i16(at);
        at += 4 + size_t(i16(at + 2));
        e.bounds = {i32(at), i32(at + 4), i32(at + 8), i32(at + 12)};
        e.size = i32(at + 16);
        at += 20 + size_t(std::max(0, e.size));
        out.push_back(e);
    }
    return out;
}

// One item showing graphic 1, large and alone, at 100 %.
void OneItem(Control& c, int style) {
    c.PutInt(dispidDrawScale, 100);
    c.AddItem("");
    c.PutItem(dispidItemWidth, 0, 120);
    c.PutItem(dispidItemHeight, 0, 60);
    c.Put(dispidGraphicName, com::Variant::Str("Pic"), {com::Variant::I2(1)});
    c.PutItem(dispidItemGraphic, 0, 1);
    c.PutItem(dispidItemGraphicStyle, 0, style);
}

void SetPath(Control& c, const QString& path) {
    c.Put(dispidGraphicPath, com::Variant::Str(path.toStdString()), {com::Variant::I2(1)});
}

const QRgb kRed = qRgb(255, 0, 0), kBlue = qRgb(0, 0, 255), kWhite = qRgb(255, 255, 255), kBlack = qRgb(0, 0, 0);

// The picture of item 0 (style 3) painted twice, read at the centre of each of its
// cols x rows pixels as the letter of its colour ('?' for none), top row first, and
// compared with `expected`. Each paint has its own byte that glibc writes into the
// blocks it hands out or takes back (all of them in the tests' environment), so a
// read of memory nobody set shows.
void ExpectCells(Control& c, int cols, const std::map<char, QRgb>& colours, const std::vector<std::string>& expected,
                 const std::string& what) {
    auto r = c.ItemRect(0);
    const int l = X(c, r[0]), t = Y(c, r[1]), w = X(c, r[2]) - l, h = Y(c, r[3]) - t;
    const int rows = int(expected.size());
    for (int perturb : {0x5A, 0xA5}) {
        mallopt(M_PERTURB, perturb);
        const QImage img = Grab(c);
        std::vector<std::string> seen(size_t(rows), std::string(size_t(cols), '?'));
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < cols; ++x)
                for (const auto& [letter, rgb] : colours)
                    if (img.pixel(l + (2 * x + 1) * w / (2 * cols), t + (2 * y + 1) * h / (2 * rows)) == rgb)
                        seen[size_t(y)][size_t(x)] = letter;
        EXPECT_EQ(seen, expected) << what << ", perturbing byte " << perturb;
    }
}

}  // namespace

TEST(GraphPicture, BitmapsReadWithTheirColourTablesAndSizesChecked) {
    QTemporaryDir dir;
    Control c;
    OneItem(c, 3);
    Write(dir.filePath("red.bmp"), RedBitmap8());
    SetPath(c, dir.filePath("red.bmp"));
    auto e = Entries(c);
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[1].type, 1);
    EXPECT_EQ(e[1].bounds, (std::vector<int32_t>{0, 0, 2, 2}));
    EXPECT_EQ(e[1].size, 40 + 256 * 4 + 8) << "8 bits and no used-colour count: a 256-entry table";

    // Stretched over the whole item.
    auto r = c.ItemRect(0);
    QImage img = Grab(c);
    EXPECT_EQ(img.pixel(X(c, r[0]) + 5, Y(c, r[1]) + 5), kRed);
    EXPECT_EQ(img.pixel(X(c, r[2]) - 5, Y(c, r[3]) - 5), kRed);

    // 16 bits per pixel take no colour table at all.
    Write(dir.filePath("deep.dib"), Bitmap(2, 1, 16, 0, QByteArray(), QByteArray("\x1f\x00\x1f\x00", 4)));
    SetPath(c, dir.filePath("deep.dib"));
    EXPECT_EQ(Entries(c)[1].size, 40 + 4);

    // A size the file does not hold, and a name the readers do not know: no picture.
    Write(dir.filePath("huge.bmp"), Bitmap(2, 2, 24, 0, QByteArray(), QByteArray(16, '\0'), 0x7FFFFFF0));
    SetPath(c, dir.filePath("huge.bmp"));
    EXPECT_EQ(Entries(c)[1].type, 0);
    EXPECT_EQ(Entries(c)[1].size, 0);
    Write(dir.filePath("red.png"), RedBitmap8());
    SetPath(c, dir.filePath("red.png"));
    EXPECT_EQ(Entries(c)[1].type, 0);
    img = Grab(c);
    EXPECT_EQ(img.pixel(X(c, r[0]) + 5, Y(c, r[1]) + 5), kWhite);
}

TEST(GraphPicture, TopDownBitmapsKeepTheirFirstRowOnTop) {
    QTemporaryDir dir;
    Control c;
    OneItem(c, 3);
    // 24 bits, height -2: the first row in the file is the top one (red), then blue.
    QByteArray rows("\x00\x00\xff\x00\x00\xff\x00\x00" "\xff\x00\x00\xff\x00\x00\x00\x00", 16);
    Write(dir.filePath("td.bmp"), Bitmap(2, -2, 24, 0, QByteArray(), rows));
    SetPath(c, dir.filePath("td.bmp"));
    EXPECT_EQ(Entries(c)[1].bounds, (std::vector<int32_t>{0, 0, 2, 2}));
    auto r = c.ItemRect(0);
    QImage img = Grab(c);
    EXPECT_EQ(img.pixel(X(c, r[0]) + 5, Y(c, r[1]) + 5), kRed);
    EXPECT_EQ(img.pixel(X(c, r[0]) + 5, Y(c, r[3]) - 5), kBlue);
}

// A placeable metafile 100 x 100 holding one blue pie: the upper right quarter
// of the box, counter-clockwise from the east radial to the north one.
QByteArray BluePie() {
    Bytes rec;
    rec.L(7).S(0x02FC).S(0).L(0xFF0000).S(0);                                 // solid blue brush
    rec.L(4).S(0x012D).S(0);                                                  // SelectObject 0
    rec.L(8).S(0x02FA).S(5).S(0).S(0).L(0);                                   // null pen
    rec.L(4).S(0x012D).S(1);                                                  // SelectObject 1
    rec.L(11).S(0x081A).S(0).S(50).S(50).S(100).S(100).S(100).S(0).S(0);     // Pie
    rec.L(3).S(0);                                                            // end
    Bytes f;
    f.L(0x9AC6CDD7u).S(0).S(0).S(0).S(100).S(100).S(1440).L(0).S(0);
    f.S(1).S(9).S(0x300).L(9 + rec.b.size() / 2).S(2).L(11).S(0);
    f.b.append(rec.b);
    return f.b;
}

TEST(GraphPicture, MetafilePieFillsOnlyItsQuarter) {
    QTemporaryDir dir;
    ui::ScopedRecorder rec;
    Control c;
    OneItem(c, 3);
    Write(dir.filePath("pie.wmf"), BluePie());
    SetPath(c, dir.filePath("pie.wmf"));
    EXPECT_TRUE(rec.Messages().empty());
    auto r = c.ItemRect(0);
    QImage img = Grab(c);
    const int l = X(c, r[0]), t = Y(c, r[1]), w = X(c, r[2]) - l, h = Y(c, r[3]) - t;
    EXPECT_EQ(img.pixel(l + w * 3 / 4, t + h / 3), kBlue) << "upper right";
    EXPECT_EQ(img.pixel(l + w / 4, t + h / 3), kWhite) << "upper left";
    EXPECT_EQ(img.pixel(l + w * 3 / 4, t + h * 3 / 4), kWhite) << "lower right";
}

// A placeable metafile 100 x 100 with one StretchDIB record that stretches the
// whole of a packed bitmap (width x height) over all of it.
QByteArray StretchDibMetafile(QByteArray dib, int width, int height) {
    if (dib.size() % 2) dib.append('\0');
    Bytes rec;
    rec.L(3 + 3 + 8 + dib.size() / 2).S(0x0F43).L(0x00CC0020).S(0);  // StretchDIB, SRCCOPY, RGB colours
    rec.S(height).S(width).S(0).S(0).S(100).S(100).S(0).S(0);         // the whole source, target 100 x 100
    rec.b.append(dib);
    rec.L(3).S(0);
    Bytes f;
    f.L(0x9AC6CDD7u).S(0).S(0).S(0).S(100).S(100).S(1440).L(0).S(0);
    f.S(1).S(9).S(0x300).L(9 + rec.b.size() / 2).S(0).L(3 + 3 + 8 + dib.size() / 2).S(0);
    f.b.append(rec.b);
    return f.b;
}

// A bitmap in a metafile whose pixel rows were cut short draws the rows it
// lacks in colour 0, the same at every paint, not whatever memory held.
TEST(GraphPicture, PixelsADamagedBitmapLacksAreZero) {
    Bytes dib;
    dib.L(40).L(50).L(50).S(1).S(24).L(0).L(0).L(2835).L(2835).L(0).L(0);
    for (int i = 0; i < 10 * 152; ++i) dib.B(0xFF);  // the bottom 10 of 50 rows, white (152 bytes a row)
    QTemporaryDir dir;
    ui::ScopedRecorder boxes;
    Control c;
    OneItem(c, 3);
    Write(dir.filePath("cut.wmf"), StretchDibMetafile(dib.b, 50, 50));
    SetPath(c, dir.filePath("cut.wmf"));
    ASSERT_TRUE(boxes.Messages().empty());
    auto r = c.ItemRect(0);
    const int l = X(c, r[0]), t = Y(c, r[1]), w = X(c, r[2]) - l, h = Y(c, r[3]) - t;
    for (int perturb : {0x5A, 0xA5}) {  // as in ExpectCells
        mallopt(M_PERTURB, perturb);
        const QImage img = Grab(c);
        EXPECT_EQ(img.pixel(l + w / 2, t + h / 4), kBlack) << "a missing row, perturbing byte " << perturb;
        EXPECT_EQ(img.pixel(l + w / 2, t + h * 19 / 20), kWhite) << "a row that is there, perturbing byte " << perturb;
    }
}

// Pixel values beyond a short colour table are black; run-length coded bitmaps
// draw as a standard reader shows them. The files are kept in tests/data/bitmaps.
TEST(GraphPicture, BitmapsDrawTheSamePixelsAtEveryPaint) {
    const char* src = std::getenv("TESSARY_SOURCE_DIR");
    const std::string folder = std::string(src ? src : ".") + "/tests/data/bitmaps/";
    struct Case {
        const char* file;
        std::map<char, QRgb> colours;
        std::vector<std::string> rows;
    } cases[] = {
        {"bmp8-used3.bmp", {{'k', kBlack}}, std::vector<std::string>(7, "kkkkkkkkk")},  // no value within 3
        {"bmp4-used2.bmp",
         {{'k', kBlack}, {'r', kRed}, {'o', qRgb(242, 91, 37)}},
         {"kokkkkkkk", "kkkkkkkkk", "kkkkkkkkk", "kkkokkkkk", "okkkkkkkk", "orokokkkk", "rkrkoooko"}},
        {"bmp8-rle.bmp",
         {{'a', qRgb(91, 124, 132)}, {'b', qRgb(17, 130, 126)}, {'c', qRgb(199, 136, 120)}, {'d', qRgb(125, 142, 114)}},
         {"aaaaaaaaa", "bbbbbbaaa", "bbbbbbbbb", "bbbbbbbbb", "ccbbbbbbb", "ccccccccc", "dddcccccc"}},
    };
    for (const Case& k : cases) {
        Control c;
        OneItem(c, 3);
        SetPath(c, QString::fromStdString(folder + k.file));
        ASSERT_EQ(Entries(c)[1].type, 1) << k.file;
        ExpectCells(c, 9, k.colours, k.rows, k.file);
    }
}

// Run-length codes: a run or an absolute stretch goes on into the next row, an end
// of line or a delta moves from the row the codes last reached, absolute stretches
// are padded to whole words, and pixels no code reaches have value 0.
TEST(GraphPicture, RunLengthCodesPlacePixelsAsAStandardReaderDoes) {
    QByteArray table;
    std::map<char, QRgb> colours;
    for (QRgb rgb : {qRgb(10, 10, 10), qRgb(200, 0, 0), qRgb(0, 200, 0), qRgb(0, 0, 200)}) {
        colours[char('0' + table.size() / 4)] = rgb;
        table.append(char(qBlue(rgb))).append(char(qGreen(rgb))).append(char(qRed(rgb))).append('\0');
    }
    struct Case {
        const char* what;
        int bits;
        std::vector<uint8_t> codes;
        std::vector<std::string> rows;
    } cases[] = {
        {"end of line, delta", 8, {2, 1, 0, 0, 0, 2, 1, 0, 1, 2, 0, 1}, {"0000", "0200", "1100"}},
        {"odd absolute stretch", 8, {0, 3, 1, 2, 3, 0, 1, 3, 0, 0, 0, 1}, {"0000", "0000", "1233"}},
        {"run past the row, end of line", 8, {6, 1, 0, 0, 1, 2, 0, 1}, {"0000", "2100", "1111"}},
        {"run past the row, delta", 8, {6, 1, 0, 2, 1, 1, 1, 2, 0, 1}, {"0002", "1100", "1111"}},
        {"end of bitmap", 8, {1, 1, 0, 1, 3, 2}, {"0000", "0000", "1000"}},
        {"run past the image", 8, {20, 1, 1, 2, 0, 1}, {"1111", "1111", "1111"}},
        {"4 bits, odd absolute stretch", 4, {3, 0x12, 0, 0, 0, 3, 0x31, 0x20, 0, 1}, {"0000", "3120", "1210"}},
        {"4 bits, run past the row", 4, {6, 0x12, 0, 1}, {"0000", "1200", "1212"}},
    };
    QTemporaryDir dir;
    for (const Case& k : cases) {
        const QByteArray codes(reinterpret_cast<const char*>(k.codes.data()), qsizetype(k.codes.size()));
        const uint32_t compression = k.bits == 8 ? 1 : 2;
        Write(dir.filePath("rle.bmp"), Bitmap(4, 3, k.bits, 4, table, codes, uint32_t(codes.size()), compression));
        Control c;
        OneItem(c, 3);
        SetPath(c, dir.filePath("rle.bmp"));
        ExpectCells(c, 4, colours, k.rows, k.what);
    }
}

TEST(GraphPicture, MetafilesPlayAndRefuseDamagedFiles) {
    QTemporaryDir dir;
    ui::ScopedRecorder rec;
    Control c;
    OneItem(c, 3);
    Write(dir.filePath("half.wmf"), BlueLeftHalf());
    SetPath(c, dir.filePath("HALF.wmf").replace(QStringLiteral("HALF"), QStringLiteral("half")));
    EXPECT_TRUE(rec.Messages().empty());
    auto e = Entries(c);
    EXPECT_EQ(e[1].type, 2);
    EXPECT_EQ(e[1].bounds, (std::vector<int32_t>{0, 0, 100, 100}));
    EXPECT_EQ(e[1].size, BlueLeftHalf().size() - 22) << "the records from the metafile header on";
    auto r = c.ItemRect(0);
    QImage img = Grab(c);
    const int my = (Y(c, r[1]) + Y(c, r[3])) / 2;
    EXPECT_EQ(img.pixel(X(c, r[0]) + 5, my), kBlue) << "left half";
    EXPECT_EQ(img.pixel(X(c, r[2]) - 5, my), kWhite) << "right half is the item's fill";

    struct Bad {
        QByteArray bytes;
        const char* message;
    } bad[] = {{BlueLeftHalf().left(21), "Unable to read placeable header"},
               {BlueLeftHalf(0x12345678u), "Unable to read placeable header"},
               {BlueLeftHalf().left(30), "Unable to read metafile header"},
               {BlueLeftHalf(0x9AC6CDD7u, 0x7FFFFF00), "Unable to read metafile bits"}};
    for (const Bad& b : bad) {
        Write(dir.filePath("bad.wmf"), b.bytes);
        rec.Clear();
        SetPath(c, dir.filePath("bad.wmf"));
        ASSERT_EQ(rec.Messages().size(), 1u) << b.message;
        EXPECT_EQ(rec.Messages()[0].text, QString::fromLatin1(b.message));
        EXPECT_EQ(rec.Messages()[0].icon, ui::Icon::Critical);
        EXPECT_EQ(Entries(c)[1].type, 0);
    }
}

TEST(GraphPicture, PicturesGoThroughGraphFilesUnchanged) {
    QTemporaryDir dir;
    ui::ScopedRecorder rec;
    Control a;
    OneItem(a, 3);
    a.PutInt(dispidStoreGraphics, 4);
    Write(dir.filePath("half.wmf"), BlueLeftHalf());
    SetPath(a, dir.filePath("half.wmf"));
    a.Put(dispidGraphicName, com::Variant::Str("Red"), {com::Variant::I2(2)});
    Write(dir.filePath("red.bmp"), RedBitmap8());
    a.Put(dispidGraphicPath, com::Variant::Str(dir.filePath("red.bmp").toStdString()), {com::Variant::I2(2)});
    a.Put(dispidSaveAs, com::Variant::Str(dir.filePath("g.ndr").toStdString()));

    Control b;
    b.PutInt(dispidStoreGraphics, 4);
    b.Put(dispidLoadFrom, com::Variant::Str(dir.filePath("g.ndr").toStdString()));
    ASSERT_TRUE(rec.Messages().empty());
    b.Put(dispidSaveAs, com::Variant::Str(dir.filePath("h.ndr").toStdString()));
    QFile g(dir.filePath("g.ndr")), h(dir.filePath("h.ndr"));
    ASSERT_TRUE(g.open(QIODevice::ReadOnly) && h.open(QIODevice::ReadOnly));
    const QByteArray gb = g.readAll(), hb = h.readAll();
    ASSERT_EQ(gb.size(), hb.size());
    EXPECT_TRUE(gb.contains(BlueLeftHalf().mid(22))) << "metafile bytes verbatim";
    EXPECT_EQ(Entries(b)[1].size, Entries(a)[1].size);
    EXPECT_EQ(Entries(b)[2].size, Entries(a)[2].size);
    auto r = b.ItemRect(0);
    QImage img = Grab(b);
    EXPECT_EQ(img.pixel(X(b, r[0]) + 5, (Y(b, r[1]) + Y(b, r[3])) / 2), kBlue);
}

TEST(GraphPicture, StylesPlaceThePictureInsideTheItem) {
    QTemporaryDir dir;
    Write(dir.filePath("red.bmp"), RedBitmap8());
    // Style 4: a square picture in a 120 x 60 item becomes 60 x 60, centred (align 4).
    {
        Control c;
        OneItem(c, 4);
        SetPath(c, dir.filePath("red.bmp"));
        auto r = c.ItemRect(0);
        QImage img = Grab(c);
        const int l = X(c, r[0]), t = Y(c, r[1]), my = (t + Y(c, r[3])) / 2;
        EXPECT_EQ(img.pixel(l + 10, my), kWhite);
        EXPECT_EQ(img.pixel(l + 60, my), kRed);
        EXPECT_EQ(img.pixel(l + 110, my), kWhite);
        // Align 0 moves it to the left edge.
        c.PutItem(dispidItemGraphicAlign, 0, 0);
        img = Grab(c);
        EXPECT_EQ(img.pixel(l + 10, my), kRed);
        EXPECT_EQ(img.pixel(l + 70, my), kWhite);
        // Style 0 draws no picture.
        c.PutItem(dispidItemGraphicStyle, 0, 0);
        img = Grab(c);
        EXPECT_EQ(img.pixel(l + 10, my), kWhite);
    }
    // Style 1 with an empty picture rectangle fills the item at any zoom: the
    // item's size is scaled once, not twice.
    {
        Control c;
        OneItem(c, 1);
        c.PutInt(dispidDrawScale, 50);
        SetPath(c, dir.filePath("red.bmp"));
        auto r = c.ItemRect(0);
        QImage img = Grab(c);
        EXPECT_EQ(img.pixel(X(c, r[2]) - 3, Y(c, r[3]) - 3), kRed);
        // A picture rectangle of its own: 10, 10 to 30, 30 of the item, halved.
        c.PutItem(dispidItemGraphicLeft, 0, 10);
        c.PutItem(dispidItemGraphicTop, 0, 10);
        c.PutItem(dispidItemGraphicWidth, 0, 20);
        c.PutItem(dispidItemGraphicHeight, 0, 20);
        img = Grab(c);
        const int l = X(c, r[0]), t = Y(c, r[1]);
        EXPECT_EQ(img.pixel(l + 7, t + 7), kRed);
        EXPECT_EQ(img.pixel(l + 17, t + 17), kWhite);
    }
}

namespace {

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

uint32_t U16At(const QByteArray& b, qsizetype at) { return uint8_t(b[at]) | uint32_t(uint8_t(b[at + 1])) << 8; }
uint32_t U32At(const QByteArray& b, qsizetype at) { return U16At(b, at) | U16At(b, at + 2) << 16; }

// The pixels a bitmap file with the 12-byte core header declares, top row first:
// 16-bit width and height, then the bit count; a table of 2^bits blue, green, red
// triples; rows from the bottom up, each padded to 4 bytes.
std::vector<std::vector<QRgb>> CorePixels(const QByteArray& f) {
    const int width = int(U16At(f, 18)), height = int(U16At(f, 20)), bits = int(U16At(f, 24));
    const qsizetype table = 26, at = U32At(f, 10), stride = (bits * width + 31) / 32 * 4;
    auto colour = [&](qsizetype p) { return qRgb(uint8_t(f[p + 2]), uint8_t(f[p + 1]), uint8_t(f[p])); };
    std::vector<std::vector<QRgb>> out(size_t(height), std::vector<QRgb>(size_t(width), 0));
    for (int y = 0; y < height; ++y) {
        const qsizetype row = at + (height - 1 - y) * stride;
        for (int x = 0; x < width; ++x) {
            if (bits == 24) {
                out[size_t(y)][size_t(x)] = colour(row + 3 * x);
                continue;
            }
            const int bit = x * bits;
            const int value = (uint8_t(f[row + bit / 8]) >> (8 - bits - bit % 8)) & ((1 << bits) - 1);
            out[size_t(y)][size_t(x)] = colour(table + 3 * value);
        }
    }
    return out;
}

// Item 0's picture (style 3) painted twice as in ExpectCells, read at the centre
// of each of its pixels and compared with `expected` (top row first).
void ExpectPixels(Control& c, const std::vector<std::vector<QRgb>>& expected, const std::string& what) {
    auto r = c.ItemRect(0);
    const int l = X(c, r[0]), t = Y(c, r[1]), w = X(c, r[2]) - l, h = Y(c, r[3]) - t;
    const int rows = int(expected.size()), cols = int(expected[0].size());
    for (int perturb : {0x5A, 0xA5}) {
        mallopt(M_PERTURB, perturb);
        const QImage img = Grab(c);
        int wrong = 0;
        std::string first;
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < cols; ++x) {
                const QRgb seen = img.pixel(l + (2 * x + 1) * w / (2 * cols), t + (2 * y + 1) * h / (2 * rows));
                if (seen != expected[size_t(y)][size_t(x)] && wrong++ == 0)
                    first = "pixel " + std::to_string(x) + "," + std::to_string(y) + ": " +
                            QColor(seen).name().toStdString() + " for " +
                            QColor(expected[size_t(y)][size_t(x)]).name().toStdString();
            }
        EXPECT_EQ(wrong, 0) << what << ", perturbing byte " << perturb << "; first " << first;
    }
}

}  // namespace

// Bitmaps with the 12-byte core header, in metafile records and in graph files,
// draw every pixel their bits give through their 3-byte colour table entries.
TEST(GraphPicture, CoreHeaderBitmapsDrawTheirPixels) {
    const char* src = std::getenv("TESSARY_SOURCE_DIR");
    const QString folder = QString::fromUtf8(src ? src : ".") + "/tests/data/bitmaps/";
    QTemporaryDir dir;
    ui::ScopedRecorder boxes;
    // A graph file whose one picture is replaced by the core-header bitmap below.
    Write(dir.filePath("red.bmp"), RedBitmap8());
    {
        Control a;
        OneItem(a, 3);
        a.PutInt(dispidStoreGraphics, 4);
        SetPath(a, dir.filePath("red.bmp"));
        a.Put(dispidSaveAs, com::Variant::Str(dir.filePath("red.ndr").toStdString()));
    }
    const QByteArray redGraph = ReadFile(dir.filePath("red.ndr"));
    QByteArray redDib = RedBitmap8().mid(14);
    redDib[33] = 1;  // as kept: the header counts its 256 colours
    const qsizetype redAt = redGraph.indexOf(redDib);
    ASSERT_GT(redAt, 4);
    ASSERT_EQ(U32At(redGraph, redAt - 4), uint32_t(redDib.size()));

    for (const char* name : {"core1.bmp", "core4.bmp", "core8.bmp", "core24.bmp"}) {
        const QByteArray file = ReadFile(folder + name);
        ASSERT_EQ(U32At(file, 14), 12u) << name;
        const QByteArray dib = file.mid(14);
        const auto pixels = CorePixels(file);
        ASSERT_EQ(pixels.size(), 7u);
        {
            Control c;
            OneItem(c, 3);
            Write(dir.filePath("core.wmf"), StretchDibMetafile(dib, 9, 7));
            SetPath(c, dir.filePath("core.wmf"));
            ASSERT_TRUE(boxes.Messages().empty());
            ExpectPixels(c, pixels, std::string(name) + " in a metafile");
        }
        QByteArray graph = redGraph;
        Bytes size;
        size.L(dib.size());
        graph.replace(redAt - 4, 4 + redDib.size(), size.b + dib);
        Write(dir.filePath("core.ndr"), graph);
        Control c;
        c.PutInt(dispidStoreGraphics, 4);
        c.Put(dispidLoadFrom, com::Variant::Str(dir.filePath("core.ndr").toStdString()));
        ASSERT_TRUE(boxes.Messages().empty());
        ASSERT_EQ(Entries(c).size(), 2u);
        ASSERT_EQ(Entries(c)[1].size, dib.size());
        ExpectPixels(c, pixels, std::string(name) + " in a graph file");
    }

    // A colour table cut short, and a depth the core header does not have: nothing is drawn.
    const QByteArray cut = ReadFile(folder + "core8.bmp").mid(14, 12 + 3 * 200);
    QByteArray deep = ReadFile(folder + "core24.bmp").mid(14);
    deep[10] = 32;
    for (const QByteArray& dib : {cut, deep}) {
        Control c;
        OneItem(c, 3);
        Write(dir.filePath("bad.wmf"), StretchDibMetafile(dib, 9, 7));
        SetPath(c, dir.filePath("bad.wmf"));
        ExpectPixels(c, std::vector<std::vector<QRgb>>(7, std::vector<QRgb>(9, kWhite)), "a damaged core header");
    }
}

namespace {

// An 8-bit run-length bitmap file of about 3 KB declaring width x height: runs of
// colour 1 (red) over its bottom rows; every pixel no run reaches has colour 0 (blue).
QByteArray RunsDeclaringALargeImage(int width, int height) {
    QByteArray codes;
    for (int i = 0; i < 1500; ++i) codes.append(char(255)).append(char(1));
    codes.append('\0').append('\1');
    const QByteArray table("\xff\x00\x00\x00\x00\x00\xff\x00", 8);
    return Bitmap(width, height, 8, 2, table, codes, uint32_t(codes.size()), 1);
}

// The largest single request of the next paint.
size_t LargestOfAPaint(Control& c, QImage* img = nullptr) {
    gLargest = 0;
    const QImage grabbed = Grab(c);
    if (img) *img = grabbed;
    return gLargest;
}

}  // namespace

// A picture is decoded at its first paint and the result drawn at the next ones;
// an image beyond 128 MB (at 4 bytes a pixel) is refused before anything is
// expanded. The pixels are not kept by the request sizes seen: a paint that
// decodes asks for at least width x height bytes at once.
TEST(GraphPicture, APictureIsDecodedOnceAndDrawnAtEveryPaint) {
    constexpr size_t kLarge = size_t(8) << 20;
    QTemporaryDir dir;
    ui::ScopedRecorder boxes;
    const QByteArray runs = RunsDeclaringALargeImage(8192, 4096);
    ASSERT_LT(runs.size(), 3200);
    struct Case {
        const char* what;
        QString file;
        QByteArray bytes;
    } cases[] = {{"a bitmap", "runs.bmp", runs},
                 {"a metafile record", "runs.wmf", StretchDibMetafile(runs.mid(14), 8192, 4096)}};
    for (const Case& k : cases) {
        Control c;
        OneItem(c, 3);
        Write(dir.filePath(k.file), k.bytes);
        SetPath(c, dir.filePath(k.file));
        ASSERT_TRUE(boxes.Messages().empty());
        auto r = c.ItemRect(0);
        const int l = X(c, r[0]), t = Y(c, r[1]), b = Y(c, r[3]);
        QImage img;
        EXPECT_GE(LargestOfAPaint(c, &img), size_t(8192) * 4096) << k.what << ": the first paint decodes";
        for (int paint = 2; paint <= 5; ++paint) {
            EXPECT_LT(LargestOfAPaint(c, &img), kLarge) << k.what << ", paint " << paint;
            EXPECT_EQ(img.pixel(l + 20, t + 5), kBlue) << k.what << ", paint " << paint;
            EXPECT_EQ(img.pixel(l + 20, b - 1), kRed) << k.what << ", paint " << paint;
        }
        // Another picture in the same entry is drawn, not the one decoded before.
        Write(dir.filePath("red.bmp"), RedBitmap8());
        SetPath(c, dir.filePath("red.bmp"));
        EXPECT_LT(LargestOfAPaint(c, &img), kLarge) << k.what << " replaced";
        EXPECT_EQ(img.pixel(l + 20, t + 5), kRed) << k.what << " replaced";
    }
    // One row more than the limit allows: nothing is expanded, nothing drawn, at any paint.
    for (auto [width, height] : {std::pair{8192, 4097}, {4097, 8192}, {16384, 8192}}) {
        Control c;
        OneItem(c, 3);
        Write(dir.filePath("big.bmp"), RunsDeclaringALargeImage(width, height));
        SetPath(c, dir.filePath("big.bmp"));
        auto r = c.ItemRect(0);
        for (int paint = 1; paint <= 2; ++paint) {
            QImage img;
            EXPECT_LT(LargestOfAPaint(c, &img), kLarge) << width << " x " << height << ", paint " << paint;
            EXPECT_EQ(img.pixel(X(c, r[0]) + 20, Y(c, r[1]) + 5), kWhite) << width << " x " << height;
        }
    }
}
