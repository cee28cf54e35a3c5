# The database commands work on a ScriptRunner, so their tests link the engine.
file(GLOB _qp_db_command_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/db/commands/*.cpp)
if(_qp_db_command_tests)
  add_executable(test_db_commands ${_qp_db_command_tests})
  target_link_libraries(test_db_commands PRIVATE qp_commands qp_test_commands GTest::gtest GTest::gtest_main GTest::gmock)
  target_include_directories(test_db_commands PRIVATE ${CMAKE_SOURCE_DIR}/src
                             ${CMAKE_CURRENT_SOURCE_DIR}/db)
  gtest_discover_tests(test_db_commands DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
endif()
