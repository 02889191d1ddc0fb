# Option mode: parsing, the option table, the compatibility rule and whole runs in-process.
add_executable(options_tests options_test.cpp option_table_test.cpp)
target_link_libraries(options_tests PRIVATE scrivane_options scrivane_test_support GTest::gtest_main)
target_compile_definitions(options_tests PRIVATE SCRIVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
# Text beyond Windows-1252 opens the font module beside the program.
add_dependencies(options_tests scrivane_font_module)
gtest_discover_tests(options_tests DISCOVERY_MODE PRE_TEST PROPERTIES LABELS options)

# The real program from a shell: needs the option-mode dispatch in main().
add_executable(options_cli_tests options_cli_test.cpp shape_corpus_test.cpp)
target_link_libraries(options_cli_tests PRIVATE scrivane_test_support GTest::gtest_main)
target_compile_definitions(options_cli_tests PRIVATE SCRIVANE_BINARY="$<TARGET_FILE:scrivane>"
  SCRIVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
add_dependencies(options_cli_tests scrivane)
gtest_discover_tests(options_cli_tests DISCOVERY_MODE PRE_TEST PROPERTIES LABELS options)
