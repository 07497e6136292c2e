# Text export of a million marked rows.
if(TARGET tessary_export)
  add_executable(export_bench ${CMAKE_CURRENT_LIST_DIR}/export_bench.cpp)
  target_link_libraries(export_bench PRIVATE tessary_export SQLite::SQLite3)
endif()
