// Printing the flow chart over a chosen number of pages across.
#pragma once

#include "CSafeFile.h"

#include <cstdint>
#include <functional>

class CProject;
class QPrinter;
class QWidget;
struct IDispatch;

namespace MPrint {

// The chart's scale in percent for pages across on a page horzRes device
// pixels wide at dpiX pixels an inch: each leaf is given 1.46875 inches at
// 100 percent, and 1.2 inches of the page are kept for the margins. Raises
// error 6 (overflow) when the scale is outside 1..32767 and 11 without leaves
// or resolution.
int16_t TiledZoom(int32_t horzRes, int32_t dpiX, int16_t pages, int16_t leaves);

// Has the graph control print its whole drawing at its present DrawScale on
// the printer, as one document "Tessary Flow Chart": the control tiles it over
// the pages across and down it needs, with its overlap, header and footer.
// Returns the pages printed; raises 482 when the printer cannot start.
int PrintChart(IDispatch* chart, QPrinter& printer);

// Runs print on the printer. A printer that writes a file writes it aside and
// the file takes the chosen name only when it is a whole PDF: raises 3035 when
// the disk is full, 75 when the file was cut short otherwise, both naming the
// chosen file, which is then as it was. False when check refused the file as
// it was to take the name (it has said why), and nothing was written.
[[nodiscard]] bool PrintAside(QPrinter& printer, const CSafeFile::Check& check, const std::function<void()>& print);

// The command: the print dialog, then the chart at the scale for the pages
// chosen. chart is the flow chart's graph control, leaves the tree's leaf
// count. Errors end in the box titled "MTessary::PrintTiled"; the chart's
// scale is put back on every path. Printing to a file that is the project's
// own file or its data source is refused (see MExport::MayWrite); a file is
// printed aside and takes the name's place only then (CSafeFile).
// True when the chart was printed.
bool PrintTiled(IDispatch* chart, int16_t leaves, QWidget* owner, CProject* project = nullptr);

}  // namespace MPrint
