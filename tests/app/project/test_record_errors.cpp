#include "AppErrors.h"
#include "ErrorGuard.h"

#include "dao/dao.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <vector>

namespace {

// Collects what is recorded while it lives.
struct Recorder {
    std::vector<base::RecordedError> seen;
    base::RecordSink previous;
    Recorder() {
        previous = base::SetRecordSink([this](const base::RecordedError& s) { seen.push_back(s); });
    }
    ~Recorder() { base::SetRecordSink(std::move(previous)); }
};

TEST(RecordErrors, RecordsWhereAndWhatAndGoesOn) {
    struct Case {
        std::function<void()> raise;
        long number;
        std::string description;
    } cases[] = {
        {[] { throw dao::DaoError(3021, "No current record."); }, 3021, "No current record."},
        {[] { app::RaiseError(9); }, 9, "Subscript out of range"},
        {[] { throw std::runtime_error("disk gone"); }, 5, "disk gone"},
        {[] { throw 42; }, 0, "unknown"},
    };
    for (const Case& c : cases) {
        Recorder rec;
        EXPECT_FALSE(base::RecordErrors("UPanel::Paint", c.raise));
        ASSERT_EQ(rec.seen.size(), 1u) << c.description;
        EXPECT_EQ(rec.seen[0].where, "UPanel::Paint");
        EXPECT_EQ(rec.seen[0].number, c.number);
        EXPECT_EQ(rec.seen[0].description, c.description);
    }
}

TEST(RecordErrors, InsideACatchBlockAndOnSuccess) {
    Recorder rec;
    int ran = 0;
    EXPECT_TRUE(base::RecordErrors("Quiet::Step", [&] { ++ran; }));
    EXPECT_EQ(ran, 1);
    EXPECT_TRUE(rec.seen.empty());

    try {
        throw std::out_of_range("row 7");
    } catch (...) {
        base::RecordCaught("CBrowseModel::data");
    }
    ASSERT_EQ(rec.seen.size(), 1u);
    EXPECT_EQ(rec.seen[0].where, "CBrowseModel::data");
    EXPECT_EQ(rec.seen[0].description, "row 7");
}

TEST(RecordErrors, ASinkThatThrowsIsNotPassedOn) {
    base::RecordSink previous = base::SetRecordSink([](const base::RecordedError&) { throw std::runtime_error("sink"); });
    EXPECT_FALSE(base::RecordErrors("X::Y", [] { throw 1; }));
    base::SetRecordSink(std::move(previous));
}

TEST(RecordErrors, TraceWritesALineToStderr) {
    ::setenv("TESSARY_TRACE", "1", 1);
    testing::internal::CaptureStderr();
    base::RecordErrors("FStatus::Refresh", [] { throw std::runtime_error("closed"); });
    std::string out = testing::internal::GetCapturedStderr();
    EXPECT_NE(out.find("FStatus::Refresh"), std::string::npos) << out;
    EXPECT_NE(out.find("closed"), std::string::npos) << out;

#ifdef NDEBUG
    ::setenv("TESSARY_TRACE", "0", 1);
    testing::internal::CaptureStderr();
    base::RecordErrors("FStatus::Refresh", [] { throw std::runtime_error("closed"); });
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
#endif
    ::unsetenv("TESSARY_TRACE");
}

}  // namespace
