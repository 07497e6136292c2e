// The data lines of the marked-rows text file. Blocks of rows as GetRows gives
// them (prediction, then the data columns) are turned into text and written on
// a thread of the writer's own, so that the caller reads the next block meanwhile.
#pragma once

#include "com/oleauto.h"

#include <QSaveFile>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

class CMarkedRows;

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
    CTextRowWriter(QSaveFile& file, const CMarkedRows& rows, const Format& format, std::string head);
    // Stops the thread; what was not written is dropped.
    ~CTextRowWriter();
    CTextRowWriter(const CTextRowWriter&) = delete;
    CTextRowWriter& operator=(const CTextRowWriter&) = delete;

    // Queues a block (waits while the queue is full). False once the writer
    // has stopped: the caller stops reading and calls Finish.
    bool Add(com::Variant block);
    // Writes what is queued and the rest of the text. False when a value has
    // a character Windows-1252 cannot carry; a failure is raised here.
    bool Finish();

private:
    void Run();
    bool WriteBlock(const VARIANT* values, long rows);
    bool AppendPrediction(const VARIANT& predicted, const VARIANT& key);
    void Flush();

    QSaveFile& mFile;
    const CMarkedRows& mRows;
    const Format mFormat;
    std::string mOut;
    std::unordered_map<const std::string*, std::string> mEncoded;  // prediction texts, encoded once each

    std::mutex mLock;
    std::condition_variable mChanged;
    std::deque<com::Variant> mQueue;
    bool mDone = false;     // no more blocks come
    bool mStopped = false;  // the thread has ended or must end
    bool mNeedsUtf8 = false;
    std::exception_ptr mError;
    std::thread mThread;
};
