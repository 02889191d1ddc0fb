# The window's tests: Qt Test, offscreen, every platform service faked.
add_executable(window_tests window_test.cpp)
set_target_properties(window_tests PROPERTIES AUTOMOC ON)
target_link_libraries(window_tests PRIVATE scrivane_window scrivane_test_support Qt6::Test)
add_test(NAME window_tests COMMAND window_tests)
set_tests_properties(window_tests PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")

add_executable(qt_platform_tests qt_platform_test.cpp)
set_target_properties(qt_platform_tests PROPERTIES AUTOMOC ON)
target_link_libraries(qt_platform_tests PRIVATE scrivane_platform_qt Qt6::Test)
add_test(NAME qt_platform_tests COMMAND qt_platform_tests)
set_tests_properties(qt_platform_tests PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")

# The window module opened at run time, as the program opens it.
add_executable(module_tests module_test.cpp)
target_link_libraries(module_tests PRIVATE scrivane_start Qt6::Widgets GTest::gtest_main)
target_include_directories(module_tests PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(module_tests PRIVATE SCRIVANE_WINDOW_MODULE_FILE="$<TARGET_FILE:scrivane_window>")
add_dependencies(module_tests scrivane_window)
add_test(NAME module_tests COMMAND module_tests)
set_tests_properties(module_tests PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
