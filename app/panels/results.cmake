# The result panels and their widgets: link label, legend strip, prune and
# report panels, tree-graph panel and confusion-matrix view. Their sources sit
# in results/ so that no other library of this folder picks them up.
set(results_dir ${CMAKE_CURRENT_LIST_DIR}/results)
add_library(tessary_results_panels STATIC
  ${results_dir}/ULink.cpp
  ${results_dir}/UChartReport.cpp
  ${results_dir}/UMatrix.cpp
  ${results_dir}/UTreeGraph.cpp
  ${results_dir}/UPrune.cpp
  ${results_dir}/UReport.cpp)
target_include_directories(tessary_results_panels PUBLIC ${results_dir})
# The graph control is created through the runtime by ProgID: only its host header.
target_link_libraries(tessary_results_panels PUBLIC tessary_panels tessary_base tessary_tree tessary_project tessary_ui
                      tessary_com nodars_host Qt6::Widgets)
