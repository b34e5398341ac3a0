# korvo_add_test(<name> <libraries...> [FOLDERS <folder>...]): the *.cpp and *.h of the calling
# folder and of each folder named after FOLDERS (relative to it) become the test program
# test_<name>, linked with the libraries and GoogleTest, each of its tests one ctest test.
# Its main() is GoogleTest's unless the folder has a main.cpp or the program links
# korvo_test_main_qt (tests/support), whose objects take the place of GoogleTest's main.
# The tests find the shared fixtures in KORVO_FIXTURES_DIR and the built programs in
# KORVO_BIN_DIR. The test code is compiled without optimisation in every build (a third to a
# half less compile time, and the tests wait on processes and sockets far more than they
# compute); the code under test keeps the build type's flags.
function(korvo_add_test name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "FOLDERS")
    set(_sources)
    foreach(folder "${CMAKE_CURRENT_SOURCE_DIR}" ${arg_FOLDERS})
        get_filename_component(folder "${folder}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
        file(GLOB _found CONFIGURE_DEPENDS "${folder}/*.cpp" "${folder}/*.h")
        list(APPEND _sources ${_found})
    endforeach()
    add_executable(test_${name} ${_sources})
    target_link_libraries(test_${name} PRIVATE ${arg_UNPARSED_ARGUMENTS} GTest::gtest
        GTest::gtest_main GTest::gmock)
    korvo_test_settings(test_${name})
    gtest_discover_tests(test_${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
endfunction()

# What every test program gets, korvo_add_test's or one put together by hand.
function(korvo_test_settings target)
    target_compile_definitions(${target} PRIVATE
        KORVO_FIXTURES_DIR="${PROJECT_SOURCE_DIR}/tests/fixtures"
        KORVO_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
    target_compile_options(${target} PRIVATE -O0)
endfunction()
