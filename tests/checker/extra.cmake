# The qvrc --check and --lines tests run the real program.
if(TARGET test_checker)
  add_dependencies(test_checker qvrc)
endif()
