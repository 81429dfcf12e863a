# zentu_add_qtest(<name> SOURCES <files...> LIBRARIES <targets...> [LABELS <labels...>])
# One QTest program per area. Tests find the programs of the build (askpass,
# the server stand-ins) through ZENTU_BIN_DIR and run on the X server given
# by DISPLAY (scripts/test runs ctest under xvfb-run).
function(zentu_add_qtest name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBRARIES;LABELS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE zentu_common Qt5::Test ${T_LIBRARIES})
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "ZENTU_BIN_DIR=${CMAKE_BINARY_DIR}/bin;ZENTU_SOURCE_DIR=${CMAKE_SOURCE_DIR};QT_QPA_PLATFORM=xcb"
        LABELS "${T_LABELS}")
endfunction()
