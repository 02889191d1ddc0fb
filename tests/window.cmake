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
