#include "UTreeGraph.h"

namespace shell {

UTreeGraph::UTreeGraph(QWidget* parent) : UPanel(parent) {}
UTreeGraph::~UTreeGraph() = default;

}  // namespace shell
