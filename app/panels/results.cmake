# The result panels and their widgets: link label, legend strip, prune and
# report panels, tree-graph panel and confusion-matrix view.
if(TARGET tessary_tree)
  add_library(tessary_results_panels STATIC
    ${CMAKE_CURRENT_LIST_DIR}/ULink.cpp
    ${CMAKE_CURRENT_LIST_DIR}/UChartReport.cpp
    ${CMAKE_CURRENT_LIST_DIR}/UMatrix.cpp
    ${CMAKE_CURRENT_LIST_DIR}/UTreeGraph.cpp)
  target_include_directories(tessary_results_panels PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  # The graph control is created through the runtime by ProgID: only its host header.
  target_link_libraries(tessary_results_panels PUBLIC tessary_tree tessary_project tessary_ui tessary_com
                        nodars_host Qt6::Widgets)
  if(EXISTS ${CMAKE_SOURCE_DIR}/tests/app/panels/results/CMakeLists.txt)
    add_subdirectory(${CMAKE_SOURCE_DIR}/tests/app/panels/results ${CMAKE_BINARY_DIR}/tests/app/panels/results)
  endif()
endif()
