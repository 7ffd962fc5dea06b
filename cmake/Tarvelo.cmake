# tarvelo_target(<name> <STATIC|SHARED|MODULE|EXECUTABLE|INTERFACE> [SOURCES file...]
#                [PUBLIC lib...] [PRIVATE lib...] [INTERFACE lib...])
# Every target of the tree is made here, from a source list written out in its folder's CMakeLists.txt
# (one file a line, sorted): a file that is missing stops the configuration, and a new file joins a
# target only where it is named.
function(tarvelo_target name kind)
  cmake_parse_arguments(T "" "" "SOURCES;PUBLIC;PRIVATE;INTERFACE" ${ARGN})
  if(T_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "tarvelo_target(${name}): unexpected arguments ${T_UNPARSED_ARGUMENTS}")
  endif()
  if(kind STREQUAL "EXECUTABLE")
    add_executable(${name} ${T_SOURCES})
  elseif(kind MATCHES "^(STATIC|SHARED|MODULE)$")
    add_library(${name} ${kind} ${T_SOURCES})
  elseif(kind STREQUAL "INTERFACE")
    if(T_SOURCES)
      message(FATAL_ERROR "tarvelo_target(${name}): an INTERFACE target has no sources")
    endif()
    add_library(${name} INTERFACE)
  else()
    message(FATAL_ERROR "tarvelo_target(${name}): unknown kind ${kind}")
  endif()
  if(NOT kind STREQUAL "INTERFACE" AND NOT T_SOURCES)
    message(FATAL_ERROR "tarvelo_target(${name}): no sources")
  endif()
  foreach(scope PUBLIC PRIVATE INTERFACE)
    if(T_${scope})
      target_link_libraries(${name} ${scope} ${T_${scope}})
    endif()
  endforeach()
endfunction()

# tarvelo_add_test(NAME <program> LABEL <layer> TARGET <tested target> SOURCES ... [LIBS ...]
#                  [OWN_MAIN] [PROPERTIES <test property> <value> ...])
# One GoogleTest program per tested target; every discovered test carries two labels, its layer's
# and the tested target's name. OWN_MAIN: the program brings its main(). PROPERTIES: more
# properties of every discovered test.
function(tarvelo_add_test)
  cmake_parse_arguments(T "OWN_MAIN" "NAME;LABEL;TARGET" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  foreach(required NAME LABEL TARGET SOURCES)
    if(NOT T_${required})
      message(FATAL_ERROR "tarvelo_add_test(${T_NAME}): ${required} is missing")
    endif()
  endforeach()
  set(main GTest::gtest_main)
  if(T_OWN_MAIN)
    set(main)
  endif()
  tarvelo_target(${T_NAME} EXECUTABLE SOURCES ${T_SOURCES} ${TARVELO_TEST_COMMON_SOURCES}
                 PRIVATE ${T_LIBS} tarvelo_test_common GTest::gtest ${main})
  gtest_discover_tests(${T_NAME}
    PROPERTIES LABELS ${T_LABEL} ${T_PROPERTIES}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin
    DISCOVERY_TIMEOUT 60)
  # gtest_discover_tests flattens a list-valued property, so both labels are set on the discovered
  # tests by a file that ctest reads after the discovered list (none when the program is not built).
  set(labels ${T_LABEL} ${T_TARGET})
  list(REMOVE_DUPLICATES labels)
  set(labels_file ${CMAKE_CURRENT_BINARY_DIR}/${T_NAME}_labels.cmake)
  file(WRITE ${labels_file}
    "if(${T_NAME}_TESTS)\n  set_tests_properties(\${${T_NAME}_TESTS} PROPERTIES LABELS \"${labels}\")\nendif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${labels_file})
endfunction()

# tarvelo_add_filter_module(NAME <Drovane|Palomir|Lustrel|Tamsel|...> SOURCES ... [LIBS ...])
# A filter module is a shared object named "<NAME>.ax" that exports only the four COM entry points;
# everything else, its copy of the vision library included, stays private to the module.
function(tarvelo_add_filter_module)
  cmake_parse_arguments(M "" "NAME" "SOURCES;LIBS" ${ARGN})
  tarvelo_target(${M_NAME} MODULE SOURCES ${M_SOURCES} PRIVATE ${M_LIBS})
  set_target_properties(${M_NAME} PROPERTIES
    PREFIX "" SUFFIX ".ax" OUTPUT_NAME ${M_NAME}
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  target_link_options(${M_NAME} PRIVATE
    -Wl,--version-script=${CMAKE_SOURCE_DIR}/cmake/filter_module.map -Wl,--no-undefined)
endfunction()

# tarvelo_use_pam_wrapper(<target>)
# Where PAM's test wrapper is installed, the target's password tests run the shipped service file
# through it; without it those tests say so and skip.
function(tarvelo_use_pam_wrapper target)
  find_package(pam_wrapper CONFIG QUIET)
  if(pam_wrapper_FOUND)
    target_compile_definitions(${target} PRIVATE
      TARVELO_PAM_WRAPPER_LIBRARY="${PAM_WRAPPER_LIBRARY}"
      TARVELO_PAM_MODULE_DIR="${PAM_WRAPPER_MODULE_DIR}"
      TARVELO_PAM_SERVICE_FILE="${CMAKE_SOURCE_DIR}/platform/pam/tarvelo")
  endif()
endfunction()
