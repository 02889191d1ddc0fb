# Structural checks of our own output, the fuzz target and the fault tests.

add_library(scrivane_structure STATIC support/pdf_structure.cpp)
target_include_directories(scrivane_structure PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(scrivane_test_support PUBLIC scrivane_structure)

add_executable(structure_tests structure_test.cpp)
target_link_libraries(structure_tests PRIVATE scrivane_writer scrivane_test_support GTest::gtest_main)
gtest_discover_tests(structure_tests DISCOVERY_MODE PRE_TEST)

# The real program, run without a display. The program takes a chosen Qt
# platform for a display, so none is chosen; the tests clear these again for
# each run of the program.
add_executable(fault_tests fault_test.cpp)
target_link_libraries(fault_tests PRIVATE scrivane_writer scrivane_test_support GTest::gtest_main)
target_compile_definitions(fault_tests PRIVATE SCRIVANE_BINARY="$<TARGET_FILE:scrivane>")
add_dependencies(fault_tests scrivane)
gtest_discover_tests(fault_tests DISCOVERY_MODE PRE_TEST
  PROPERTIES ENVIRONMENT "DISPLAY=\\;WAYLAND_DISPLAY=\\;QT_QPA_PLATFORM=")

# The fuzz target as a plain program that replays the seed corpus, for every compiler.
add_executable(convert_fuzz_replay fuzz/convert_fuzzer.cpp support/fakes.cpp)
target_compile_definitions(convert_fuzz_replay PRIVATE SCRIVANE_FUZZ_REPLAY)
target_link_libraries(convert_fuzz_replay PRIVATE scrivane_writer scrivane_platform_std scrivane_structure)
add_test(NAME convert_fuzz_corpus
  COMMAND convert_fuzz_replay ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus)

if(SCRIVANE_FUZZ AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  set(fuzz_sanitizers -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  # Coverage for the code under test, the sanitizers' runtimes for whoever links it.
  foreach(lib scrivane_text scrivane_writer scrivane_platform_std scrivane_structure)
    target_compile_options(${lib} PRIVATE -fsanitize=fuzzer-no-link ${fuzz_sanitizers})
    target_link_options(${lib} INTERFACE -fsanitize=address,undefined)
  endforeach()
  add_executable(convert_fuzzer fuzz/convert_fuzzer.cpp support/fakes.cpp)
  target_compile_options(convert_fuzzer PRIVATE -fsanitize=fuzzer ${fuzz_sanitizers})
  target_link_options(convert_fuzzer PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(convert_fuzzer PRIVATE scrivane_writer scrivane_platform_std scrivane_structure)
endif()
