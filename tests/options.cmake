# Option mode: parsing, the compatibility rule and whole runs in-process.
add_executable(options_tests options_test.cpp)
target_link_libraries(options_tests PRIVATE scrivane_options scrivane_test_support GTest::gtest_main)
gtest_discover_tests(options_tests DISCOVERY_MODE PRE_TEST PROPERTIES LABELS options)
