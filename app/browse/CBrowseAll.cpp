#include "CBrowseAll.h"

// Fixed columns 0-1; the format hook on columns 2-3 (the first two data
// columns, as the grid has always shown them).
CBrowseAll::CBrowseAll() : CBrowseView({2, 1, 1, 2, 3, false}) {}
