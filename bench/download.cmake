# The download benchmark programs (x64, run under Wine by bench/download_bench.sh).
if(WIN32)
  add_executable(download_bench_win ${CMAKE_CURRENT_LIST_DIR}/download_bench_win.cpp ${CMAKE_SOURCE_DIR}/ui/quorlynx.rc)
  target_include_directories(download_bench_win PRIVATE ${CMAKE_SOURCE_DIR}/ui)
  target_link_libraries(download_bench_win PRIVATE qz_launcher wininet psapi)
  # The maintenance service's path: the worker over WinHTTP, no page.
  add_executable(service_bench_win ${CMAKE_CURRENT_LIST_DIR}/service_bench_win.cpp)
  target_link_libraries(service_bench_win PRIVATE qz_update_service)
endif()
