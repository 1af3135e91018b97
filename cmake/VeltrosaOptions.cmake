# Compile options every target of the project shares, through one interface
# library so that nothing here leaks into the flags of third-party code.
add_library(veltrosa_options INTERFACE)
add_library(Veltrosa::options ALIAS veltrosa_options)

target_compile_options(veltrosa_options INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual
  -Wcast-align -Wnull-dereference -Wdouble-promotion -Wformat=2
  # Single-precision maths exactly as written: no contraction into fused
  # multiply-adds, no value-changing optimisations.
  -ffp-contract=off -fno-fast-math)
if(VELTROSA_WERROR)
  target_compile_options(veltrosa_options INTERFACE -Werror)
endif()
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND NOT WIN32)
  # Modules hosts load must really unload when closed (scanners load, unload
  # and load again): no unique symbols pin them in memory.
  target_compile_options(veltrosa_options INTERFACE -fno-gnu-unique)
endif()
# Emscripten calls WebAssembly "x86".
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(i.86|x86)$" AND NOT EMSCRIPTEN)
  # 32-bit x86: SSE arithmetic, never x87 excess precision; callers may hand
  # us a 4-byte aligned stack.
  target_compile_options(veltrosa_options INTERFACE -msse2 -mfpmath=sse -mstackrealign)
endif()

if(VELTROSA_SANITIZE)
  string(REPLACE "," ";" _sanitizers "${VELTROSA_SANITIZE}")
  foreach(_s IN LISTS _sanitizers)
    target_compile_options(veltrosa_options INTERFACE -fsanitize=${_s})
    target_link_options(veltrosa_options INTERFACE -fsanitize=${_s})
  endforeach()
  target_compile_options(veltrosa_options INTERFACE -fno-omit-frame-pointer -fno-sanitize-recover=all)
endif()

if(VELTROSA_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "VELTROSA_FUZZ needs clang (CC=clang CXX=clang++)")
  endif()
  # Coverage feedback for the fuzzer in every library it drives; the fuzz
  # target itself links the fuzzer runtime.
  target_compile_options(veltrosa_options INTERFACE -fsanitize=fuzzer-no-link)
endif()

# veltrosa_headers(<target> <folder>): the target's headers, src/<folder>/,
# are included as "<folder>/Name.h" by the target and by exactly the targets
# that link it, so that an include across the layering without a link is a
# build error. Each folder gets an include root of its own in the build tree
# holding nothing but a link to it.
function(veltrosa_headers target folder)
  set(_root ${CMAKE_BINARY_DIR}/include/${folder})
  if(NOT EXISTS ${_root}/${folder})
    file(MAKE_DIRECTORY ${_root})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${folder} ${_root}/${folder} SYMBOLIC)
  endif()
  get_target_property(_type ${target} TYPE)
  if(_type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${_root})
  elseif(_type MATCHES "LIBRARY$" AND NOT _type STREQUAL "MODULE_LIBRARY")
    target_include_directories(${target} PUBLIC ${_root})
  else()
    target_include_directories(${target} PRIVATE ${_root})
  endif()
endfunction()
