# Test helpers. Every GoogleTest case runs in a process of its own, so each
# starts with a fresh machine and a freshly loaded library.
include(GoogleTest)

if(WIN32)
    # Debian ships GoogleTest as sources; build them with the cross compiler.
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    set(KV_GTEST_MAIN gtest_main)
    set(KV_GMOCK gmock)
else()
    find_package(GTest REQUIRED)
    set(KV_GTEST_MAIN GTest::gtest_main)
    set(KV_GMOCK GTest::gmock)
endif()

# kv_add_gtest(<name> SOURCES ... [LIBS ...] [LABELS threaded])
# Each test gets one label (a list would not survive gtest_discover_tests' PROPERTIES): "native",
# "native-threaded" for tests that the TSan build runs again (`ctest -L threaded`), or "windows".
function(kv_add_gtest name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} ${KV_GTEST_MAIN} ${KV_GMOCK})
    if(WIN32)
        set(label windows)
    elseif("threaded" IN_LIST ARG_LABELS)
        set(label native-threaded)
    else()
        set(label native)
    endif()
    gtest_discover_tests(${name}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 120
        PROPERTIES LABELS ${label} TIMEOUT 300)
endfunction()
