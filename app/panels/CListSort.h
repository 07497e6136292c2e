// Header-click sorting of the statistics lists: every click flips the
// direction, whichever column it is, starting from the list's ascending
// order, so the first click sorts descending; text columns compare as the database
// compares text (letter case ignored), the others by their whole-number value.
#pragma once

#include <cstdint>

class QTreeWidget;

class CListSort {
public:
    // Sorts list by column (from 0); numericColumn is the column whose numbers
    // order the rows, or -1 for a text sort of column.
    void HeaderClick(QTreeWidget& list, int column, int numericColumn);

    static void SortText(QTreeWidget& list, int column, bool descending);

private:
    int16_t mOrder = 0;  // the list's own order before any click
};
