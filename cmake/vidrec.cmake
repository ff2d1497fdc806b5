# vidrec_unit_test(<name> [REALTIME] SOURCES ... LIBS ... [TIMEOUT s])
# REALTIME: the test runs the virtual board against its clock; CTest runs it
# alone so a loaded machine does not starve it.
# One GoogleTest executable = one CTest test; under the armhf toolchain CTest
# runs it through qemu-arm (CMAKE_CROSSCOMPILING_EMULATOR).
function(vidrec_unit_test name)
  cmake_parse_arguments(UT "REALTIME" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  # A missing source file does not break configuring; the test then fails.
  foreach(src ${UT_SOURCES})
    if(NOT IS_ABSOLUTE ${src})
      set(src ${CMAKE_CURRENT_SOURCE_DIR}/${src})
    endif()
    if(NOT EXISTS ${src})
      message(WARNING "${name}: ${src} missing")
      set(_missing ${src})
    endif()
  endforeach()
  if(_missing)
    # Keep the configure step working; the test itself fails until the file is there.
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${name}_missing.cpp
         "#include <cstdio>\nint main(){std::puts(\"missing ${_missing}\");return 1;}\n")
    set(UT_SOURCES ${CMAKE_CURRENT_BINARY_DIR}/${name}_missing.cpp)
    set(UT_LIBS)
  endif()
  add_executable(${name} ${UT_SOURCES})
  target_link_libraries(${name} PRIVATE ${UT_LIBS} vidrec_unit_main Threads::Threads)
  add_test(NAME ${name} COMMAND ${name})
  if(UT_TIMEOUT)
    set_tests_properties(${name} PROPERTIES TIMEOUT ${UT_TIMEOUT})
  else()
    set_tests_properties(${name} PROPERTIES TIMEOUT 300)
  endif()
  if(UT_REALTIME)
    set_tests_properties(${name} PROPERTIES RUN_SERIAL TRUE)
  endif()
endfunction()

# Sources of a folder, picked up as they are added.
function(vidrec_glob out)
  file(GLOB _s CONFIGURE_DEPENDS ${ARGN})
  set(${out} ${_s} PARENT_SCOPE)
endfunction()
