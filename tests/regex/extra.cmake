# The qvrc --match test runs the built tool.
add_dependencies(test_regex qvrc)
target_compile_definitions(test_regex PRIVATE QP_QVRC_PATH="$<TARGET_FILE:qvrc>")
