# tarvelo_add_test(NAME <target> LABEL <layer> SOURCES ... [LIBS ...])
# One GoogleTest program per library; every discovered test carries its layer's label.
function(tarvelo_add_test)
  cmake_parse_arguments(T "" "NAME;LABEL" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES} ${TARVELO_TEST_COMMON_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} tarvelo_test_common GTest::gtest GTest::gtest_main)
  gtest_discover_tests(${T_NAME}
    PROPERTIES LABELS ${T_LABEL}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin
    DISCOVERY_TIMEOUT 60)
endfunction()

# tarvelo_add_filter_module(NAME <Drovane|Palomir|Lustrel|Tamsel|...> SOURCES ... [LIBS ...])
# A filter module is a shared object named "<NAME>.ax" that exports only the four COM entry points;
# everything else, its copy of the vision library included, stays private to the module.
function(tarvelo_add_filter_module)
  cmake_parse_arguments(M "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_library(${M_NAME} MODULE ${M_SOURCES})
  set_target_properties(${M_NAME} PROPERTIES
    PREFIX "" SUFFIX ".ax" OUTPUT_NAME ${M_NAME}
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  target_link_libraries(${M_NAME} PRIVATE ${M_LIBS})
  target_link_options(${M_NAME} PRIVATE
    -Wl,--version-script=${CMAKE_SOURCE_DIR}/cmake/filter_module.map -Wl,--no-undefined)
endfunction()
