# libFuzzer targets for everything that reads outside input. clang only.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "QUAV_FUZZ needs clang's libFuzzer: configure with CC=clang CXX=clang++")
endif()
# The code under test is instrumented too: libFuzzer follows its branches, ASan and UBSan watch
# its accesses, and any finding ends the run so that it is kept as a crash input.
add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all)
add_link_options(-fsanitize=address,undefined)

# quav_add_fuzzer(<target> SOURCES <file>... [LIBRARIES <library>...] CORPUS <folder>)
# A fuzz target, and a CTest test (label fuzz) that runs it for a few seconds from its seeds in
# CORPUS. What it learns and finds stays in the build folder, <target>.corpus and <target>.crash-*.
function(quav_add_fuzzer target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "CORPUS" "SOURCES;LIBRARIES")
  add_executable(${target} ${arg_SOURCES})
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  target_link_options(${target} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${target} PRIVATE ${arg_LIBRARIES})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tools/testing)
  set(learned ${CMAKE_CURRENT_BINARY_DIR}/${target}.corpus)
  file(MAKE_DIRECTORY ${learned})
  # libFuzzer writes new inputs only into its first corpus folder; the seeds are only read.
  add_test(NAME ${target}
    COMMAND ${target} -max_total_time=5 -timeout=10 -artifact_prefix=${target}.
            ${learned} ${arg_CORPUS}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  set_tests_properties(${target} PROPERTIES LABELS fuzz TIMEOUT 60)
endfunction()
