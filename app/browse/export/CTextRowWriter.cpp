#include "CTextRowWriter.h"

#include "AppErrors.h"
#include "CMarkedRows.h"
#include "CSafeFile.h"
#include "MExport.h"

#include "dao/dao.h"

#include <algorithm>

namespace {

constexpr size_t kBlocksOnTheirWay = 16;
constexpr unsigned kMostFormatters = 3;

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

CTextRowWriter::CTextRowWriter(CSafeFile& file, const CMarkedRows& rows, const Format& format, std::string head)
    : mFile(file), mRows(rows), mFormat(format), mHead(std::move(head)) {
    // The reading thread keeps one core; the formatters share the others.
    const unsigned cores = std::thread::hardware_concurrency();
    const unsigned formatters = std::clamp(cores > 2 ? cores - 2 : 1u, 1u, kMostFormatters);
    try {
        mWriter = std::thread([this] { WriteTexts(); });
        for (unsigned i = 0; i < formatters; ++i) mFormatters.emplace_back([this] { FormatBlocks(); });
    } catch (...) {
        Stop();  // no thread may outlive a writer that was never made
        throw;
    }
}

CTextRowWriter::~CTextRowWriter() { Stop(); }

void CTextRowWriter::Stop() {
    {
        std::lock_guard<std::mutex> hold(mLock);
        mStopped = true;
    }
    WakeAll();
    for (std::thread& t : mFormatters)
        if (t.joinable()) t.join();
    if (mWriter.joinable()) mWriter.join();
}

bool CTextRowWriter::Add(com::Variant block) {
    std::unique_lock<std::mutex> hold(mLock);
    mRoom.wait(hold, [this] { return mStopped || mAdded - mWritten < kBlocksOnTheirWay; });
    if (mStopped) return false;
    mBlocks.emplace_back(mAdded++, std::move(block));
    hold.unlock();
    mWork.notify_one();
    return true;
}

bool CTextRowWriter::Finish() {
    {
        std::lock_guard<std::mutex> hold(mLock);
        mDone = true;
    }
    WakeAll();
    for (std::thread& t : mFormatters) t.join();
    mWriter.join();
    if (mError) std::rethrow_exception(mError);
    return !mNeedsUtf8;
}

void CTextRowWriter::Fail(std::exception_ptr error) {
    {
        std::lock_guard<std::mutex> hold(mLock);
        if (error && !mError) mError = error;
        if (!error) mNeedsUtf8 = true;
        mStopped = true;
    }
    WakeAll();
}

void CTextRowWriter::WakeAll() {
    mRoom.notify_all();
    mWork.notify_all();
    mWritable.notify_all();
}

void CTextRowWriter::FormatBlocks() {
    Encoded encoded;
    try {
        for (;;) {
            std::pair<size_t, com::Variant> block;
            {
                std::unique_lock<std::mutex> hold(mLock);
                mWork.wait(hold, [this] { return mStopped || mDone || !mBlocks.empty(); });
                if (mStopped || mBlocks.empty()) return;
                block = std::move(mBlocks.front());
                mBlocks.pop_front();
            }
            std::string text;
            if (!FormatBlock(block.second, text, encoded)) return Fail(nullptr);
            block.second.Clear();
            {
                std::lock_guard<std::mutex> hold(mLock);
                mTexts.emplace(block.first, std::move(text));
            }
            mWritable.notify_one();
        }
    } catch (...) {
        // Kept for the caller's thread, which reports it.
        Fail(std::current_exception());
    }
}

void CTextRowWriter::WriteTexts() {
    try {
        auto write = [this](const std::string& bytes) { mFile.Write(bytes.data(), bytes.size()); };
        write(mHead);
        for (;;) {
            std::string text;
            {
                std::unique_lock<std::mutex> hold(mLock);
                mWritable.wait(hold, [this] {
                    return mStopped || mTexts.count(mWritten) || (mDone && mWritten == mAdded);
                });
                if (mStopped || mWritten == mAdded) return;
                auto next = mTexts.find(mWritten);
                text = std::move(next->second);
                mTexts.erase(next);
            }
            write(text);
            {
                std::lock_guard<std::mutex> hold(mLock);
                ++mWritten;
            }
            mRoom.notify_one();
        }
    } catch (...) {
        // Kept for the caller's thread, which reports it.
        Fail(std::current_exception());
    }
}

bool CTextRowWriter::FormatBlock(const com::Variant& block, std::string& out, Encoded& encoded) const {
    LONG last = -1;
    SafeArrayGetUBound(block.parray, 2, &last);
    const LockedArray data(block.parray);
    const VARIANT* row = data.Values();
    const bool utf8 = mFormat.utf8;
    const size_t width = mFormat.width;
    static const com::Variant none = com::Variant::Null();
    out.reserve(size_t(last + 1) * width * 12);
    for (LONG r = 0; r <= last; ++r, row += width) {
        const VARIANT& key = mFormat.keyColumn >= 0 ? row[mFormat.keyColumn + 1] : static_cast<const VARIANT&>(none);
        const std::string& prediction = mRows.Prediction(row[0], key);
        auto known = encoded.find(&prediction);
        if (known == encoded.end()) {
            std::string bytes;
            if (!MExport::AppendText(bytes, com::ToU16(prediction), utf8)) return false;
            known = encoded.emplace(&prediction, std::move(bytes)).first;
        }
        out += known->second;
        for (size_t i = 1; i < width; ++i) {
            if (!mFormat.noDelimiter) out += mFormat.delimiter;
            // Null and binary values are written as nothing.
            const VARIANT& v = row[i];
            if (v.vt == VT_NULL || v.vt == VT_EMPTY || (v.vt & VT_ARRAY)) continue;
            if (v.vt != VT_BSTR) {
                dao::AppendVarString(out, v);
            } else if (!MExport::AppendText(out, std::u16string_view(v.bstrVal, SysStringLen(v.bstrVal)), utf8)) {
                return false;
            }
        }
        out += "\r\n";
    }
    return true;
}
