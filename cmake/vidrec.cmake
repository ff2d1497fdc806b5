# vidrec_unit_test(<name> SOURCES ... LIBS ...)
# One GoogleTest executable = one CTest test; under the armhf toolchain CTest
# runs it through qemu-arm (CMAKE_CROSSCOMPILING_EMULATOR).
function(vidrec_unit_test name)
  cmake_parse_arguments(UT "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${UT_SOURCES})
  target_link_libraries(${name} PRIVATE ${UT_LIBS} GTest::gtest_main Threads::Threads)
  add_test(NAME ${name} COMMAND ${name})
  if(UT_TIMEOUT)
    set_tests_properties(${name} PROPERTIES TIMEOUT ${UT_TIMEOUT})
  else()
    set_tests_properties(${name} PROPERTIES TIMEOUT 300)
  endif()
endfunction()

# Sources of a folder, picked up as they are added.
function(vidrec_glob out)
  file(GLOB _s CONFIGURE_DEPENDS ${ARGN})
  set(${out} ${_s} PARENT_SCOPE)
endfunction()
