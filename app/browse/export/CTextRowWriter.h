// The data lines of the marked-rows text file. Blocks of rows as GetRows gives
// them (prediction, then the data columns) are turned into text on threads of
// the writer's own and written in their order, so that the caller reads the
// next blocks meanwhile.
#pragma once

#include "com/oleauto.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

class CMarkedRows;
class CSafeFile;

class CTextRowWriter {
public:
    struct Format {
        char delimiter = ',';
        bool noDelimiter = false;  // the texts follow each other directly
        bool utf8 = false;         // else Windows-1252
        int keyColumn = -1;        // data column of the key, -1 when none
        size_t width = 0;          // columns of a row: the prediction and the data
    };

    // head: the bytes that start the file (the header line).
    CTextRowWriter(CSafeFile& file, const CMarkedRows& rows, const Format& format, std::string head);
    // Stops the threads; what was not written is dropped.
    ~CTextRowWriter();
    CTextRowWriter(const CTextRowWriter&) = delete;
    CTextRowWriter& operator=(const CTextRowWriter&) = delete;

    // Queues a block (waits while enough are on their way). False once the
    // writer has stopped: the caller stops reading and calls Finish.
    bool Add(com::Variant block);
    // Writes what is queued. False when a value has a character Windows-1252
    // cannot carry; a failure is raised here.
    bool Finish();

private:
    using Encoded = std::unordered_map<const std::string*, std::string>;  // prediction texts, encoded once each

    void FormatBlocks();
    void WriteTexts();
    bool FormatBlock(const com::Variant& block, std::string& out, Encoded& encoded) const;
    void Fail(std::exception_ptr error);  // null: a character needs UTF-8
    void WakeAll();
    void Stop();  // ends and joins every thread

    CSafeFile& mFile;
    const CMarkedRows& mRows;
    const Format mFormat;
    std::string mHead;

    std::mutex mLock;
    // Each waiter has its own, so that a change wakes only the thread it concerns.
    std::condition_variable mRoom;     // the reader: fewer blocks on their way
    std::condition_variable mWork;     // the formatters: a block, or the end
    std::condition_variable mWritable; // the writer: a text, or the end
    std::deque<std::pair<size_t, com::Variant>> mBlocks;  // by their number in the file
    std::map<size_t, std::string> mTexts;                 // formatted, waiting for their turn
    size_t mAdded = 0, mWritten = 0;
    bool mDone = false;     // no more blocks come
    bool mStopped = false;  // the threads end
    bool mNeedsUtf8 = false;
    std::exception_ptr mError;
    std::vector<std::thread> mFormatters;
    std::thread mWriter;
};
