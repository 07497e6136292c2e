#include "CTextRowWriter.h"

#include "AppErrors.h"
#include "CMarkedRows.h"
#include "MExport.h"

#include "dao/dao.h"

namespace {

constexpr size_t kFlushBytes = 1 << 20;
constexpr size_t kQueuedBlocks = 8;

// The values of a GetRows block, locked while in use.
class LockedArray {
public:
    explicit LockedArray(SAFEARRAY* array) : mArray(array) {
        void* p = nullptr;
        if (FAILED(SafeArrayAccessData(mArray, &p))) app::RaiseError(7);
        mValues = static_cast<const VARIANT*>(p);
    }
    ~LockedArray() { SafeArrayUnaccessData(mArray); }
    LockedArray(const LockedArray&) = delete;
    LockedArray& operator=(const LockedArray&) = delete;
    const VARIANT* Values() const { return mValues; }

private:
    SAFEARRAY* mArray;
    const VARIANT* mValues = nullptr;
};

}  // namespace

CTextRowWriter::CTextRowWriter(QSaveFile& file, const CMarkedRows& rows, const Format& format, std::string head)
    : mFile(file), mRows(rows), mFormat(format), mOut(std::move(head)) {
    mOut.reserve(kFlushBytes + 4096);
    mThread = std::thread([this] { Run(); });
}

CTextRowWriter::~CTextRowWriter() {
    {
        std::lock_guard<std::mutex> hold(mLock);
        mStopped = true;
    }
    mChanged.notify_all();
    if (mThread.joinable()) mThread.join();
}

bool CTextRowWriter::Add(com::Variant block) {
    std::unique_lock<std::mutex> hold(mLock);
    mChanged.wait(hold, [this] { return mStopped || mQueue.size() < kQueuedBlocks; });
    if (mStopped) return false;
    mQueue.push_back(std::move(block));
    hold.unlock();
    mChanged.notify_all();
    return true;
}

bool CTextRowWriter::Finish() {
    {
        std::lock_guard<std::mutex> hold(mLock);
        mDone = true;
    }
    mChanged.notify_all();
    if (mThread.joinable()) mThread.join();
    if (mError) std::rethrow_exception(mError);
    return !mNeedsUtf8;
}

void CTextRowWriter::Run() {
    try {
        for (;;) {
            com::Variant block;
            {
                std::unique_lock<std::mutex> hold(mLock);
                mChanged.wait(hold, [this] { return mStopped || mDone || !mQueue.empty(); });
                if (mStopped) return;
                if (mQueue.empty()) break;
                block = std::move(mQueue.front());
                mQueue.pop_front();
            }
            mChanged.notify_all();
            LONG last = -1;
            SafeArrayGetUBound(block.parray, 2, &last);
            const LockedArray data(block.parray);
            if (!WriteBlock(data.Values(), last + 1)) {
                std::lock_guard<std::mutex> hold(mLock);
                mNeedsUtf8 = true;
                mStopped = true;
                break;
            }
        }
        if (!mNeedsUtf8) Flush();
    } catch (...) {
        std::lock_guard<std::mutex> hold(mLock);
        mError = std::current_exception();
        mStopped = true;
    }
    mChanged.notify_all();
}

bool CTextRowWriter::WriteBlock(const VARIANT* row, long rows) {
    const bool utf8 = mFormat.utf8;
    const size_t width = mFormat.width;
    static const com::Variant none = com::Variant::Null();
    for (long r = 0; r < rows; ++r, row += width) {
        const VARIANT& key = mFormat.keyColumn >= 0 ? row[mFormat.keyColumn + 1] : static_cast<const VARIANT&>(none);
        if (!AppendPrediction(row[0], key)) return false;
        for (size_t i = 1; i < width; ++i) {
            if (!mFormat.noDelimiter) mOut += mFormat.delimiter;
            // Null and binary values are written as nothing.
            const VARIANT& v = row[i];
            if (v.vt == VT_NULL || v.vt == VT_EMPTY || (v.vt & VT_ARRAY)) continue;
            if (v.vt != VT_BSTR) {
                dao::AppendVarString(mOut, v);
            } else if (!MExport::AppendText(mOut, std::u16string_view(v.bstrVal, SysStringLen(v.bstrVal)), utf8)) {
                return false;
            }
        }
        mOut += "\r\n";
        if (mOut.size() >= kFlushBytes) Flush();
    }
    return true;
}

bool CTextRowWriter::AppendPrediction(const VARIANT& predicted, const VARIANT& key) {
    const std::string& prediction = mRows.Prediction(predicted, key);
    auto known = mEncoded.find(&prediction);
    if (known == mEncoded.end()) {
        std::string bytes;
        if (!MExport::AppendText(bytes, com::ToU16(prediction), mFormat.utf8)) return false;
        known = mEncoded.emplace(&prediction, std::move(bytes)).first;
    }
    mOut += known->second;
    return true;
}

void CTextRowWriter::Flush() {
    if (!mOut.empty() && mFile.write(mOut.data(), qint64(mOut.size())) != qint64(mOut.size()))
        throw app::RuntimeError(61, "Disk full");
    mOut.clear();
}
