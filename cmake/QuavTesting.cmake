# One way to declare a test target, so every test folder reads the same.
include(GoogleTest)
find_program(PYTEST_EXECUTABLE pytest-3 REQUIRED) # Debian's python3-pytest

# quav_add_gtest(<target> LABEL unit|e2e SOURCES <file>... [LIBRARIES <library>...]
#                [PROGRAMS <target>...] [TIMEOUT <seconds>])
# A GoogleTest executable kept beside its sources' build folder (build/bin holds only what is
# installed), each test case a CTest test named <target>.<suite>.<case>. PROGRAMS are built first.
function(quav_add_gtest target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "LABEL;TIMEOUT" "SOURCES;LIBRARIES;PROGRAMS")
  if(NOT arg_TIMEOUT)
    set(arg_TIMEOUT 60)
  endif()
  add_executable(${target} ${arg_SOURCES})
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  target_link_libraries(${target} PRIVATE ${arg_LIBRARIES} GTest::gtest_main)
  if(arg_PROGRAMS)
    add_dependencies(${target} ${arg_PROGRAMS})
  endif()
  gtest_discover_tests(${target} TEST_PREFIX ${target}.
    PROPERTIES LABELS ${arg_LABEL} TIMEOUT ${arg_TIMEOUT})
endfunction()

# quav_add_pytest(<file.py> LABEL unit|e2e [ARGS <pytest argument>...] [TIMEOUT <seconds>])
# A pytest module run as one CTest test named after the file. The programs under test are taken
# from build/bin (--bin-dir); tools/testing/quav_testing.py gives the shared fixtures.
function(quav_add_pytest file)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "LABEL;TIMEOUT;NAME" "ARGS")
  if(NOT arg_TIMEOUT)
    set(arg_TIMEOUT 300)
  endif()
  if(NOT arg_NAME)
    get_filename_component(arg_NAME ${file} NAME_WE)
  endif()
  add_test(NAME ${arg_NAME}
    COMMAND ${PYTEST_EXECUTABLE} -p quav_testing -p no:cacheprovider -v
            --bin-dir=${CMAKE_RUNTIME_OUTPUT_DIRECTORY} ${arg_ARGS} ${CMAKE_CURRENT_SOURCE_DIR}/${file})
  # No __pycache__ in the source tree.
  set_tests_properties(${arg_NAME} PROPERTIES LABELS ${arg_LABEL} TIMEOUT ${arg_TIMEOUT}
    ENVIRONMENT "PYTHONPATH=${PROJECT_SOURCE_DIR}/tools/testing;PYTHONDONTWRITEBYTECODE=1")
endfunction()

# quav_add_midi_pytest(<file.py>)
# A MIDI test module run twice: on a private jackd, and again as <name>_pipewire on a private
# PipeWire. Sanitizer builds skip the second: PipeWire's libjack leaks every port's buffer.
function(quav_add_midi_pytest file)
  quav_add_pytest(${file} LABEL e2e)
  if(NOT QUAV_SANITIZE)
    get_filename_component(name ${file} NAME_WE)
    quav_add_pytest(${file} LABEL e2e NAME ${name}_pipewire ARGS -p jack --stack=pipewire)
  endif()
endfunction()
