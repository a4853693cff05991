# Fuzzing builds: clang's libFuzzer with AddressSanitizer and
# UndefinedBehaviorSanitizer over every layer, so a finding in a parser
# stops at the faulty access rather than somewhere later.
option(KYVO_FUZZ "Build the fuzz targets with libFuzzer (needs clang)" OFF)
if(KYVO_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "KYVO_FUZZ needs clang, e.g. -DCMAKE_CXX_COMPILER=clang++-14")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
