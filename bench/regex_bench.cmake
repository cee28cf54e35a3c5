# The regex benchmark compares the script dialect with PCRE2's interpreter.
pkg_check_modules(PCRE2 REQUIRED IMPORTED_TARGET libpcre2-8)
target_link_libraries(${name} PRIVATE PkgConfig::PCRE2)
# The former ReplaceAll, kept with the regex tests, for comparison.
target_sources(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/regex/replace_reference.cpp)
target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/regex)
