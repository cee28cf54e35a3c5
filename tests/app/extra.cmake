# The end-to-end tests run the real program.
if(TARGET test_app)
  add_dependencies(test_app quorpack)
endif()
# The command-line and trace tests also run qvrc and know the version.
if(TARGET test_app)
  add_dependencies(test_app qvrc)
  target_compile_definitions(test_app PRIVATE QP_VERSION="${PROJECT_VERSION}")
endif()
