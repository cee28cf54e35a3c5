# The regex benchmark compares the script dialect with PCRE2's interpreter.
pkg_check_modules(PCRE2 REQUIRED IMPORTED_TARGET libpcre2-8)
target_link_libraries(${name} PRIVATE PkgConfig::PCRE2)
