# The end-to-end tests run the real program.
if(TARGET test_app)
  add_dependencies(test_app quorpack)
endif()
