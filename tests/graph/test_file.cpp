// Graph files: what SaveAs writes, what LoadFrom accepts (every version it
// reads), and that damaged files never touch the graph in the control.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QTemporaryDir>
#include <random>

#include "GraphTestSupport.h"
#include "SmallDisk.h"
#include "ui/testing.h"

using graphtest::Control;
using namespace nodars;

namespace {

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// Builds a file by hand, little-endian, the way an older version wrote it.
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
    Bytes& F(float f) {
        uint32_t u;
        memcpy(&u, &f, 4);
        return L(u);
    }
    Bytes& T(const char* s) {
        S(int(strlen(s)));
        b.append(s);
        return *this;
    }
    Bytes& R(int l, int t, int r, int bt) { return S(l).S(t).S(r).S(bt); }
    // Steps 2 to 4: settings, font (10 points, "Arial"), colours and spans.
    Bytes& Settings() {
        S(1).L(0xFFFFFF).S(1).S(2).S(1).S(1).S(3).S(1).S(1).S(100).L(0xC0FFC0);
        S(0).S(1).T("Arial").F(1.0f).S(0).S(0);
        return L(0x000080).S(10).S(0).S(20).S(120).S(20).S(50);
    }
};

// The offset of the first byte that differs, -1 for equal arrays.
int FirstDifference(const QByteArray& a, const QByteArray& b) {
    for (int i = 0; i < std::min(a.size(), b.size()); ++i)
        if (a[i] != b[i]) return i;
    return a.size() == b.size() ? -1 : int(std::min(a.size(), b.size()));
}

QString Path(const QTemporaryDir& d, const char* name) { return d.filePath(QString::fromLatin1(name)); }

void SaveAs(Control& c, const QString& path) { c.Put(dispidSaveAs, com::Variant::Str(path.toStdString())); }
void LoadFrom(Control& c, const QString& path) { c.Put(dispidLoadFrom, com::Variant::Str(path.toStdString())); }

// A graph that uses every field of the file.
void Sample(Control& c) {
    graphtest::RootWithTwoChildren(c, 0, 3);
    c.AddItem("third");
    c.Connect(2, 3);
    c.Connect(3, 3);
    c.PutItem(dispidItemData, 1, 4711);
    c.PutItem(dispidItemFillColor, 2, 0x00FF00);
    c.PutItem(dispidItemShape, 3, 6);
    c.PutItem(dispidItemLabelAlign, 1, 0);
    c.Connect(0, 2);
    c.Put(dispidConnectionLabel, com::Variant::Str("yes"));
    c.Put(dispidConnectionData, com::Variant::I4(-9));
    c.Put(dispidGraphicName, com::Variant::Str("Logo"), {com::Variant::I2(1)});
    c.PutItem(dispidItemGraphic, 1, 1);
    c.PutItem(dispidItemGraphicStyle, 1, 2);
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPointSizeF(8.25);
    f.setItalic(true);
    c.Put(dispidFont, com::Variant::Str(f.toString().toStdString()));
}

QFont FontOf(Control& c) {
    QFont f;
    f.fromString(QString::fromStdString(c.GetText(dispidFont)));
    return f;
}

}  // namespace

TEST(GraphFile, SavedAndLoadedGraphIsTheSameToTheByte) {
    QTemporaryDir dir;
    ui::ScopedRecorder rec;
    Control a;
    Sample(a);
    SaveAs(a, Path(dir, "a.ndr"));
    EXPECT_FALSE(a.Get(dispidIsDirty).boolVal) << "saving clears the modified flag";
    const QByteArray first = ReadFile(Path(dir, "a.ndr"));
    ASSERT_GT(first.size(), 14);
    EXPECT_EQ(first.left(16), QByteArray("\x0C\x00Nodaris 1.2a\x03\x00", 16));

    Control b;
    LoadFrom(b, Path(dir, "a.ndr"));
    EXPECT_TRUE(rec.Messages().empty());
    EXPECT_TRUE(b.Get(dispidIsDirty).boolVal) << "loading marks the graph modified";
    SaveAs(b, Path(dir, "b.ndr"));
    // Loading lays the graph out again, which may recompute the view rectangle
    // (bytes 95 to 102) from the restored view; everything else is as written.
    QByteArray second = ReadFile(Path(dir, "b.ndr"));
    ASSERT_EQ(second.size(), first.size());
    EXPECT_EQ(FirstDifference(second.left(95), first.left(95)), -1);
    EXPECT_EQ(FirstDifference(second.mid(103), first.mid(103)), -1);

    ASSERT_EQ(b.GetInt(dispidListCount), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(b.Item(dispidItemId, i), a.Item(dispidItemId, i));
        EXPECT_EQ(b.GetText(dispidList, {com::Variant::I2(int16_t(i))}), a.GetText(dispidList, {com::Variant::I2(int16_t(i))}));
        EXPECT_EQ(b.ItemRect(i), a.ItemRect(i));
    }
    EXPECT_EQ(b.Item(dispidItemData, 1), 4711);
    EXPECT_EQ(b.Item(dispidItemFillColor, 2), 0x00FF00);
    EXPECT_EQ(b.Item(dispidItemGraphic, 1), 1);
    EXPECT_EQ(b.GetInt(dispidNewIndex), a.GetInt(dispidNewIndex));
    b.Connect(0, 2);  // an existing connection becomes the current one
    EXPECT_EQ(b.GetText(dispidConnectionLabel), "yes");
    EXPECT_EQ(b.GetInt(dispidConnectionData), -9);
    a.Connect(3, 3);
    b.Connect(3, 3);
    EXPECT_EQ(b.GetInt(dispidConnectionId), a.GetInt(dispidConnectionId)) << "a self-connection keeps its id";
    // The id counters go on where they were.
    a.AddItem("new");
    b.AddItem("new");
    EXPECT_EQ(b.Item(dispidItemId, 4), a.Item(dispidItemId, 4));

    // A size that is not exact in single precision survives repeated cycles.
    EXPECT_DOUBLE_EQ(FontOf(b).pointSizeF(), 8.25);
    EXPECT_TRUE(FontOf(b).italic());
    Control c;
    LoadFrom(c, Path(dir, "b.ndr"));
    SaveAs(c, Path(dir, "c.ndr"));
    EXPECT_EQ(FirstDifference(ReadFile(Path(dir, "c.ndr")), second), -1) << "a loaded graph saves byte for byte";
    LoadFrom(c, Path(dir, "c.ndr"));
    EXPECT_DOUBLE_EQ(FontOf(c).pointSizeF(), 8.25);
}

TEST(GraphFile, OlderVersionsLoadWithTheirDefaults) {
    QTemporaryDir dir;
    ui::ScopedRecorder rec;
    // 1.0: no graphics section, short item records, short connection records.
    Bytes v10;
    v10.T("Nodaris 1.0").S(1).Settings();
    v10.S(0).S(7).S(0).R(0, 0, 400, 300).S(0).S(0);  // MaxLayer, next item id, NewIndex, ViewRect, scrolls
    v10.S(3);
    for (int i = 0; i < 3; ++i) {
        v10.L(10 + i).L(100 + i).T(i == 0 ? "A" : i == 1 ? "B" : "C").S(i == 0 ? 0 : 2);
        v10.L(0xFFFFFF).L(0).L(0).S(0).S(0).S(0).R(i * 150, 0, i * 150 + 120, 50);
    }
    v10.S(-1).S(-1);                                                       // A: no primary, nothing in
    v10.S(0).S(0).S(3).S(1).T("a-b").L(5).L(0xFF).S(2).S(-1);             // B <- A
    v10.S(0).S(0).S(3).S(1).T("").L(6).L(0).S(1).S(1).S(3).S(1).T("").L(7).L(0).S(0).S(-1);  // C <- A, B
    WriteFile(Path(dir, "v10.ndr"), v10.b);
    Control c;
    LoadFrom(c, Path(dir, "v10.ndr"));
    ASSERT_TRUE(rec.Messages().empty());
    ASSERT_EQ(c.GetInt(dispidListCount), 3);
    EXPECT_EQ(c.Item(dispidItemShape, 0), 1) << "shape 0 of an old file becomes 1";
    EXPECT_EQ(c.Item(dispidItemShape, 1), 2);
    EXPECT_EQ(c.Item(dispidItemId, 2), 12);
    EXPECT_EQ(c.Item(dispidItemData, 1), 101);
    EXPECT_NE(c.Item(dispidItemDrawLabel, 0), 0);
    EXPECT_EQ(c.Item(dispidItemLabelAlign, 0), 4);
    EXPECT_EQ(c.Item(dispidItemGraphicStyle, 0), 3);
    EXPECT_EQ(c.Item(dispidItemGraphic, 0), 0);
    // Connection ids come from file order: A->B 1, A->C 2, B->C 3; the next one is 4.
    c.Connect(0, 1);
    EXPECT_EQ(c.GetInt(dispidConnectionId), 1);
    EXPECT_EQ(c.GetText(dispidConnectionLabel), "a-b");
    EXPECT_EQ(c.GetInt(dispidConnectionLineWidth), -1);
    EXPECT_EQ(c.GetInt(dispidConnectionAlign), 1);
    EXPECT_EQ(c.GetInt(dispidConnectionArrow), 2);
    c.Connect(1, 2);
    EXPECT_EQ(c.GetInt(dispidConnectionId), 3);
    c.Connect(2, 0);
    EXPECT_EQ(c.GetInt(dispidConnectionId), 4);
    EXPECT_EQ(QString::fromStdString(c.GetText(dispidFont)).section(u',', 0, 0), QStringLiteral("Arial"));
    EXPECT_DOUBLE_EQ(FontOf(c).pointSizeF(), 10.0);

    // 1.1: graphics section, full item records, connections without ids. A
    // source position outside the graph makes no connection.
    Bytes v11;
    v11.T("Nodaris 1.1").S(2).Settings();
    v11.S(0).S(3).S(1).R(0, 0, 400, 300).S(0).S(0);
    v11.S(1).T("Pic").R(0, 0, 2, 2).L(0).S(-1);  // one entry without picture data
    v11.S(2);
    for (int i = 0; i < 2; ++i) {
        v11.L(1 + i).L(0).T(i ? "Y" : "X").S(1).L(0xFFFFFF).L(0).L(0).S(0).S(0).S(0).R(i * 150, 0, i * 150 + 120, 50);
        v11.S(0).S(7).R(1, 2, 3, 4).T(i ? "Pic" : "Gone").S(1).S(8).R(0, 0, 10, 10);
    }
    v11.S(-1).S(-1);
    v11.S(0).S(0).S(3).S(1).T("l").L(1).L(0).S(2).S(3).S(2);   // Y <- X
    v11.S(9).S(3).S(1).T("").L(0).L(0).S(0).S(1).S(1).S(-1);  // position 9: no connection
    WriteFile(Path(dir, "v11.ndr"), v11.b);
    Control d;
    LoadFrom(d, Path(dir, "v11.ndr"));
    ASSERT_TRUE(rec.Messages().empty());
    ASSERT_EQ(d.GetInt(dispidListCount), 2);
    EXPECT_EQ(d.GetInt(dispidGraphicCount), 2);
    EXPECT_EQ(d.Item(dispidItemGraphic, 0), 0) << "a picture that is not in the table relinks to none";
    EXPECT_EQ(d.Item(dispidItemGraphic, 1), 1) << "pictures relink by name";
    EXPECT_EQ(d.Item(dispidItemLabelAlign, 1), 7);
    EXPECT_EQ(d.Item(dispidItemGraphicAlign, 1), 8);
    d.Connect(0, 1);
    EXPECT_EQ(d.GetInt(dispidConnectionId), 1);
    EXPECT_EQ(d.GetInt(dispidConnectionLineWidth), 2);
    EXPECT_EQ(d.GetInt(dispidConnectionAlign), 2);
    d.Connect(1, 0);
    EXPECT_EQ(d.GetInt(dispidConnectionId), 2) << "only one connection was made from the file";
}

TEST(GraphFile, RefusedFilesLeaveTheGraphAndSaySo) {
    QTemporaryDir dir;
    ui::ScopedRecorder rec;
    Control c;
    graphtest::RootWithTwoChildren(c, 0, 3);
    SaveAs(c, Path(dir, "good.ndr"));
    const QByteArray good = ReadFile(Path(dir, "good.ndr"));

    LoadFrom(c, Path(dir, "missing.ndr"));
    ASSERT_EQ(rec.Messages().size(), 1u);
    EXPECT_EQ(rec.Messages()[0].title, QStringLiteral("Cannot Open Nodaris File"));
    EXPECT_EQ(rec.Messages()[0].text, Path(dir, "missing.ndr"));
    EXPECT_EQ(rec.Messages()[0].icon, ui::Icon::Critical);

    QByteArray other = good;
    other.replace(0, 14, QByteArray("\x0B\x00Nodaris 1.2", 13) + char(' '));
    other = QByteArray("\x0B\x00Nodaris 1.2", 13) + good.mid(14);
    WriteFile(Path(dir, "other.ndr"), other);
    rec.Clear();
    LoadFrom(c, Path(dir, "other.ndr"));
    ASSERT_EQ(rec.Messages().size(), 1u);
    EXPECT_EQ(rec.Messages()[0].title, QStringLiteral("Invalid Nodaris File"));
    EXPECT_EQ(c.GetInt(dispidListCount), 3);

    // A version code other than 1 to 3 reads nothing more and leaves an empty graph.
    QByteArray unknown = good.left(14);
    unknown.append(char(7)).append(char(0));
    WriteFile(Path(dir, "v7.ndr"), unknown);
    rec.Clear();
    LoadFrom(c, Path(dir, "v7.ndr"));
    EXPECT_TRUE(rec.Messages().empty());
    EXPECT_EQ(c.GetInt(dispidListCount), 0);
}

TEST(GraphFile, EveryTruncatedFileIsRefusedAndChangesNothing) {
    QTemporaryDir dir;
    ui::ScopedRecorder rec;
    Control c;
    Sample(c);
    SaveAs(c, Path(dir, "whole.ndr"));
    const QByteArray whole = ReadFile(Path(dir, "whole.ndr"));
    for (int n = 0; n < whole.size(); ++n) {
        WriteFile(Path(dir, "cut.ndr"), whole.left(n));
        rec.Clear();
        LoadFrom(c, Path(dir, "cut.ndr"));
        ASSERT_EQ(rec.Messages().size(), 1u) << "prefix of " << n << " bytes";
        EXPECT_EQ(rec.Messages()[0].title, QStringLiteral("Invalid Nodaris File"));
    }
    SaveAs(c, Path(dir, "after.ndr"));
    EXPECT_EQ(ReadFile(Path(dir, "after.ndr")), whole) << "the graph is as it was";
}

TEST(GraphFile, RandomlyDamagedFilesGiveAnErrorOrAGraph) {
    QTemporaryDir dir;
    ui::ScopedRecorder rec;
    Control c;
    Sample(c);
    SaveAs(c, Path(dir, "whole.ndr"));
    const QByteArray whole = ReadFile(Path(dir, "whole.ndr"));
    std::mt19937 gen(20261209);
    int refused = 0, loaded = 0;
    for (int round = 0; round < 500; ++round) {
        QByteArray bad = whole;
        const int flips = 1 + int(gen() % 4);
        for (int k = 0; k < flips; ++k) {
            const int at = int(gen() % uint32_t(bad.size()));
            // Half the flips write the extremes sizes and counts are made of.
            bad[at] = gen() % 2 ? char(gen() % 256) : (gen() % 2 ? char(0xFF) : char(0x7F));
        }
        WriteFile(Path(dir, "bad.ndr"), bad);
        rec.Clear();
        LoadFrom(c, Path(dir, "bad.ndr"));
        if (!rec.Messages().empty()) {
            ++refused;
            continue;
        }
        ++loaded;
        // Whatever was accepted is a graph that can be drawn, saved and read again.
        c.Host()->Widget()->grab();
        SaveAs(c, Path(dir, "again.ndr"));
        LoadFrom(c, Path(dir, "again.ndr"));
        EXPECT_TRUE(rec.Messages().empty()) << "round " << round;
    }
    EXPECT_GT(refused, 0);
    EXPECT_GT(loaded, 0);
}

TEST(GraphFile, AFailedSaveKeepsTheOldFileAndTheModifiedFlag) {
    QTemporaryDir dir;
    Control c;
    c.AddItem("one");
    ASSERT_TRUE(c.Get(dispidIsDirty).boolVal);
    SaveAs(c, Path(dir, "no/such/folder/g.ndr"));
    EXPECT_TRUE(c.Get(dispidIsDirty).boolVal);
    EXPECT_FALSE(QFile::exists(Path(dir, "no/such/folder/g.ndr")));

    // Saving over a file replaces it whole, and leaves no temporary file behind.
    WriteFile(Path(dir, "g.ndr"), QByteArray(5000, 'x'));
    SaveAs(c, Path(dir, "g.ndr"));
    EXPECT_FALSE(c.Get(dispidIsDirty).boolVal);
    EXPECT_TRUE(ReadFile(Path(dir, "g.ndr")).startsWith(QByteArray("\x0C\x00Nodaris", 9)));
    EXPECT_LT(ReadFile(Path(dir, "g.ndr")).size(), 5000);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1);
}

// The name is what is saved, as with every writer of the program: a link of
// that name is replaced and what it points to left alone; a folder of that
// name is not written, and the graph stays modified.
TEST(GraphFile, ASaveReplacesALinkAndLeavesAFolder) {
    QTemporaryDir dir;
    Control c;
    c.AddItem("one");
    const QString victim = Path(dir, "victim.ndr"), link = Path(dir, "link.ndr"), folder = Path(dir, "folder.ndr");
    WriteFile(victim, QByteArray("keep"));
    ASSERT_TRUE(QFile::link(victim, link));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.ndr")));
    SaveAs(c, folder);
    EXPECT_TRUE(c.Get(dispidIsDirty).boolVal);
    EXPECT_TRUE(QFileInfo(folder).isDir());
    SaveAs(c, link);
    EXPECT_FALSE(c.Get(dispidIsDirty).boolVal);
    EXPECT_FALSE(QFileInfo(link).isSymLink());
    EXPECT_TRUE(ReadFile(link).startsWith(QByteArray("\x0C\x00Nodaris", 9)));
    EXPECT_EQ(ReadFile(victim), QByteArray("keep"));
}

// On a full disk the save fails as quietly, and the old file stays whole.
TEST(GraphFile, ASaveOnAFullDiskKeepsTheOldFileAndTheModifiedFlag) {
    testsupport::SmallDisk disk(256 << 10);
    if (!disk.Ready()) GTEST_SKIP() << disk.Why();
    Control c;
    for (int i = 0; i < 50; ++i) c.AddItem("item " + std::to_string(i));
    const QString path = QString::fromStdString(disk.File("g.ndr"));
    WriteFile(path, QByteArray(5000, 'x'));
    disk.LeaveFree(0);
    SaveAs(c, path);
    disk.Unfill();
    EXPECT_TRUE(c.Get(dispidIsDirty).boolVal);
    EXPECT_EQ(ReadFile(path), QByteArray(5000, 'x'));
    EXPECT_EQ(QDir(QString::fromStdString(disk.Path().string())).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST(GraphFile, PicturesFollowStoreGraphics) {
    QTemporaryDir dir;
    ui::ScopedRecorder rec;
    auto make = [](Control& c) {
        c.AddItem("a");
        c.AddItem("b");
        c.Put(dispidGraphicName, com::Variant::Str("Used"), {com::Variant::I2(1)});
        c.Put(dispidGraphicName, com::Variant::Str("Spare"), {com::Variant::I2(2)});
        c.PutItem(dispidItemGraphic, 0, 1);
        c.PutItem(dispidItemGraphic, 1, 99);  // out of range: saved as no picture
    };
    struct Case {
        int store;
        int entries;  // after loading into a fresh control, placeholder included
        int graphicOfA;
    } cases[] = {{1, 1, 0}, {2, 2, 1}, {3, 3, 1}, {4, 3, 1}};
    for (const Case& k : cases) {
        Control c;
        make(c);
        c.PutInt(dispidStoreGraphics, k.store);
        SaveAs(c, Path(dir, "p.ndr"));
        Control d;
        LoadFrom(d, Path(dir, "p.ndr"));
        EXPECT_EQ(d.GetInt(dispidGraphicCount), k.entries) << "StoreGraphics " << k.store;
        EXPECT_EQ(d.Item(dispidItemGraphic, 0), k.graphicOfA) << "StoreGraphics " << k.store;
        EXPECT_EQ(d.Item(dispidItemGraphic, 1), 0);
    }
    // NoLoadGraphics reads past the pictures and still loads the items.
    Control c;
    make(c);
    c.PutInt(dispidStoreGraphics, 4);
    SaveAs(c, Path(dir, "p.ndr"));
    Control d;
    d.PutInt(dispidStoreGraphics, 0);
    LoadFrom(d, Path(dir, "p.ndr"));
    EXPECT_EQ(d.GetInt(dispidGraphicCount), 1);
    EXPECT_EQ(d.GetInt(dispidListCount), 2);
    EXPECT_TRUE(rec.Messages().empty());
    // An entry whose name is already in the table is not added twice.
    Control e;
    e.Put(dispidGraphicName, com::Variant::Str("Used"), {com::Variant::I2(1)});
    LoadFrom(e, Path(dir, "p.ndr"));
    EXPECT_EQ(e.GetInt(dispidGraphicCount), 3);
    EXPECT_EQ(e.Item(dispidItemGraphic, 0), 1);
}

TEST(GraphFile, LoadingEndsARunningQuery) {
    QTemporaryDir dir;
    ui::ScopedRecorder rec;
    Control c;
    Sample(c);
    SaveAs(c, Path(dir, "g.ndr"));
    // A connection query walks item 3's incoming list, which loading frees.
    c.Put(dispidQueryItem, com::Variant::I2(3));
    c.PutInt(dispidQueryState, 3);
    ASSERT_NE(c.GetInt(dispidQueryState), 0);
    LoadFrom(c, Path(dir, "g.ndr"));
    EXPECT_EQ(c.GetInt(dispidQueryState), 0);
    c.PutInt(dispidQueryState, 5);  // a step after the load finds no query
    EXPECT_EQ(c.GetInt(dispidQueryState), 0);
    EXPECT_EQ(c.GetInt(dispidQueryCount), 0);
}
