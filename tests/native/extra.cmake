# The shared library that the native-call tests load, and the runner that the
# end-to-end test starts.
add_library(qp_native_testlib SHARED ${CMAKE_CURRENT_SOURCE_DIR}/native/testlib/native_testlib.c)
if(TARGET test_native)
  add_dependencies(test_native qp_native_testlib quorpack)
  target_compile_definitions(test_native PRIVATE
      QP_NATIVE_TESTLIB="$<TARGET_FILE:qp_native_testlib>")
endif()
