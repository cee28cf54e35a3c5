# The HTTPS rounds use the test certificate maker and temporary folders of the
# network tests.
target_sources(http_bench PRIVATE ${CMAKE_SOURCE_DIR}/tests/net/loopback_server.cpp)
target_include_directories(http_bench PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
