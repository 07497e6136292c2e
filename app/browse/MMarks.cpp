#include "MMarks.h"

#include "AppErrors.h"
#include "AppServices.h"
#include "CBrowseGrid.h"
#include "CDataDef.h"
#include "CHourglass.h"
#include "CProject.h"
#include "CSqlMachine.h"
#include "MBrowseSql.h"
#include "ErrorGuard.h"
#include "UGrid.h"

#include <QCoreApplication>
#include <QDateTime>

namespace MMarks {

namespace {

struct Place {
    std::string topCriterion, currentCriterion;
};

com::Variant ToVariant(const QVariant& v) {
    if (!v.isValid() || v.isNull()) return com::Variant::Null();
    if (v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Int || v.typeId() == QMetaType::LongLong)
        return com::Variant::R8(v.toDouble());
    return com::Variant::Str(v.toString().toStdString());
}

// Steps a to c: the key field and the criteria that find both rows again.
Place ReadPlace(base::IGridPanel& grid, const CDataDef& dataDef) {
    Place place;
    const int16_t key = dataDef.PrimaryKeyField();
    const std::string name = dataDef.FieldName(key);
    const int16_t type = dataDef.FieldType(key);
    RecordsetPtr rs = grid.RecordSet();
    if (rs && !rs->Bof() && !rs->Eof()) place.currentCriterion = MBrowseSql::KeyCriterion(name, type, rs->Fields(name).Value());
    const QVariant top = grid.GetTopRowValue(QString::fromStdString(name));
    if (!(top.typeId() == QMetaType::QString && top.toString().isEmpty()))
        place.topCriterion = MBrowseSql::KeyCriterion(name, type, ToVariant(top));
    return place;
}

void FindAndFollow(base::IGridPanel& grid, const std::string& criterion, bool toTop) {
    RecordsetPtr rs = grid.RecordSet();
    if (!rs || criterion.empty()) return;
    rs->FindFirst(criterion);
    if (auto* own = dynamic_cast<::UGrid*>(&grid)) {
        own->SyncToRecordset();
        if (toTop && !rs->NoMatch()) own->Grid()->ScrollToTop(int(rs->AbsolutePosition()));
    }
}

// Steps d to g.
void PutBack(base::IGridPanel& grid, const Place& place, bool pause) {
    grid.HoldColumn();
    grid.Refresh();
    if (!place.topCriterion.empty()) {
        FindAndFollow(grid, place.topCriterion, true);
        if (pause) QCoreApplication::processEvents();
    }
    FindAndFollow(grid, place.currentCriterion, false);
    grid.ReleaseColumn();
}

// Whether the data table's key is unique there: a primary or unique index of
// that field alone, so that the join meets each row of Test at most once.
bool UniqueDataKey(const DatabasePtr& db, const std::string& key) {
    try {
        dao::TableDefs& defs = db->TableDefs();
        for (int t = 0; t < defs.Count(); ++t) {
            dao::TableDef table = defs[t];
            if (table.Name() != "LinkDataSource") continue;
            for (dao::Index index : table.Indexes())
                if ((index.Primary() || index.Unique()) && index.Fields().Count() == 1 &&
                    dao::CompareText(index.Fields()[0].Name(), key) == 0)
                    return true;
            return false;
        }
    } catch (...) {
        base::RecordCaught("MMarks::UniqueDataKey");  // not provably unique: the join form marks
    }
    return false;
}

// Whether the view, of viewRows rows, holds every row of Test: the bare join
// on a unique data key (each view row is another row of Test) with as many
// rows as Test. Asked inside the marking's transaction.
bool HoldsAllOfTest(const DatabasePtr& db, const std::string& tail, const CDataDef& dataDef, long viewRows) {
    const std::string key = dataDef.FieldName(dataDef.PrimaryKeyField());
    if (viewRows < 0 || tail != CSqlMachine::JoinFrom(key) || !UniqueDataKey(db, key)) return false;
    RecordsetPtr count = db->OpenRecordset("SELECT COUNT(*) FROM Test", dao::RecordsetType::Snapshot);
    return dao::VarToLong(count->Fields(0).Value()) == viewRows;
}

// The rows of the view changed by statements over the view's own FROM and
// WHERE: the same rows as a walk through the record set, without a million
// single-row updates; a view of all of Test's rows marks the table without
// the join. False (and nothing changed) when the statements fail.
bool MarkView(const DatabasePtr& db, const std::string& tail, const CDataDef& dataDef, long viewRows, int16_t mode) {
    if (tail.empty() || !MBrowseSql::JoinsTestByName(tail)) return false;
    dao::Transaction marked(*db);
    return base::RecordErrors("MMarks::MarkView", [&] {
        const std::string inView = HoldsAllOfTest(db, tail, dataDef, viewRows)
                                       ? std::string()
                                       : " WHERE MainPrimaryKey IN (SELECT Test.MainPrimaryKey " + tail + ")";
        const char* value = mode == ModeMark ? "-1" : mode == ModeClear ? "0" : "IIf([Mark] Is Null, -1, [Mark] Xor -1)";
        db->Execute(std::string("UPDATE Test SET Mark = ") + value + inView + ";");
        marked.Commit();
        return true;
    });
}

void MarkByWalking(const DatabasePtr& db, const RecordsetPtr& clone, int markField, int16_t mode) {
    // One transaction: all rows or none, and ten times faster than row by row.
    dao::Transaction marked(*db);
    for (clone->MoveFirst(); !clone->Eof(); clone->MoveNext()) {
        clone->Edit();
        dao::Field mark = clone->Fields(markField);
        short value = 0;
        if (mode == ModeMark) value = -1;
        else if (mode == ModeToggle) {
            const com::Variant old = mark.Value();
            value = short((old.IsNull() ? 0 : dao::VarToShort(old)) ^ -1);
        }
        mark.SetValue(com::Variant::I2(value));
        clone->Update();
    }
    marked.Commit();
}

}  // namespace

int MarkField(const RecordsetPtr& rs) {
    for (int i = 0; i < rs->Fields().Count(); ++i) {
        dao::Field f = rs->Fields(i);
        if (f.SourceField() == "Mark" && f.SourceTable() == "Test") return i;
    }
    return -1;
}

void CurrentMarkAll(base::IGridPanel& grid, const CDataDef& dataDef, int16_t mode) {
    CHourglass busy;
    busy.SetValue(true);
    base::ShowErrors("MMenu::CurrentMarkAll", [&] {
        RecordsetPtr rs = grid.RecordSet();
        if (!rs || (rs->Bof() && rs->Eof())) return;
        RecordsetPtr clone = rs->Clone();
        const int markField = MarkField(clone);
        if (markField < 0) throw dao::DaoError(3265, dao::ErrorDescription(3265));
        const Place place = ReadPlace(grid, dataDef);
        DatabasePtr db = grid.Database();
        auto* own = dynamic_cast<::UGrid*>(&grid);
        const std::string tail = own ? MBrowseSql::FromTail(own->RecordSource().toStdString()) : std::string();
        // The view's rows, counted in the background since it was opened.
        CBrowseModel* model = own ? own->Grid()->Model() : nullptr;
        const long count = model ? model->Count() : -1;
        const long viewRows = model && !model->CountFailed() ? count : -1;
        if (!MarkView(db, tail, dataDef, viewRows, mode)) MarkByWalking(db, clone, markField, mode);
        clone->Close();
        PutBack(grid, place, true);
    });
}

void MarkCluster(base::IGridPanel& grid, CProject& project, const CDataDef& dataDef, const std::string& sql) {
    base::ShowErrors("MMenu::MarkCluster", [&] {
        DatabasePtr db = project.OpenProject(false);
        if (!db) app::RaiseError(91);
        if (grid.RecordCount() == 0) {
            db->Execute(sql);
            grid.Refresh();
            return;
        }
        const Place place = ReadPlace(grid, dataDef);
        if (!base::RecordErrors("MMarks::MarkCluster", [&] {
            db->Execute(sql);
        })) {
            SayNotMarked();
        }
        PutBack(grid, place, false);
        project.CloseProject();
    });
}

void SayNotMarked() { app::StatusText(QStringLiteral("Opperation canceled by user.")); }

void ToggleCurrent(const DatabasePtr& db, const RecordsetPtr& rs, int markField) {
    if (!db || !rs) app::RaiseError(91);
    // The transaction takes the write lock before the mark is read: the read
    // sees the latest commit, and no other program commits until ours.
    dao::Transaction toggle(*db);
    rs->Edit();
    dao::Field mark = rs->Fields(markField);
    const com::Variant old = mark.Value();
    const bool marked = !old.IsNull() && dao::VarToDouble(old) == -1;
    mark.SetValue(com::Variant::I2(marked ? 0 : -1));
    rs->Update();
    toggle.Commit();
}

void SayNotToggled(const std::exception_ptr& why) {
    QString text = QStringLiteral("The mark was not stored.");
    try {
        if (why) std::rethrow_exception(why);
    } catch (const dao::DaoError& e) {
        // 3196: another program kept the project busy past the wait.
        text = e.Number() == 3196
                   ? QStringLiteral("The project is in use by another program: the mark was not stored.")
                   : QStringLiteral("The mark was not stored: ") + QString::fromStdString(e.Description());
    } catch (...) {
        // Of no known kind: the plain text stands.
    }
    app::StatusText(text);
}

}  // namespace MMarks
