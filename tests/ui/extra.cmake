# The desktop tests run the real program under a private Xvfb session.
if(TARGET test_ui)
  add_dependencies(test_ui quorpack)
endif()
