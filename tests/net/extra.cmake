# The script commands of the HTTP client work on a ScriptRunner, so their tests
# link the engine and run in a program of their own (test_net needs only
# qp_net). The end-to-end case runs the real quorpack program.
file(GLOB _qp_net_script_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/net/script/*.cpp)
if(_qp_net_script_tests)
  add_executable(test_net_script ${_qp_net_script_tests}
                 ${CMAKE_CURRENT_SOURCE_DIR}/net/loopback_server.cpp)
  target_link_libraries(test_net_script PRIVATE qp_commands qp_test_commands GTest::gtest GTest::gtest_main GTest::gmock)
  target_include_directories(test_net_script PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_CURRENT_SOURCE_DIR})
  target_compile_definitions(test_net_script PRIVATE
      QP_SOURCE_DIR="${CMAKE_SOURCE_DIR}" QP_BINARY_DIR="${CMAKE_BINARY_DIR}")
  add_dependencies(test_net_script quorpack)
  gtest_discover_tests(test_net_script DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
endif()
