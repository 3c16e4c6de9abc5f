# Build settings shared by every Orvalin target, and the helpers that make
# each folder a layer of its own.

# One configuration target carries the warnings and sanitizers; every target
# links it privately instead of relying on global compile options.
add_library(orvalin_build_options INTERFACE)
target_compile_features(orvalin_build_options INTERFACE cxx_std_20)
target_compile_options(orvalin_build_options INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
  $<$<BOOL:${ORVALIN_WERROR}>:-Werror>)
if(ORVALIN_SANITIZE)
  target_compile_options(orvalin_build_options INTERFACE
    -fsanitize=${ORVALIN_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all
    # GCC reports false "maybe uninitialized" warnings in instrumented code.
    -Wno-maybe-uninitialized)
  target_link_options(orvalin_build_options INTERFACE -fsanitize=${ORVALIN_SANITIZE})
endif()

# A layer's headers are included as "<folder>/<name>.h". Its include root holds
# a link to its own folder and nothing else, so a target sees the headers of
# exactly the layers it links: an include that runs upward does not compile.
function(orvalin_include_root target folder)
  set(root ${PROJECT_BINARY_DIR}/include/${folder})
  if(NOT EXISTS ${root}/${folder})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  get_target_property(kind ${target} TYPE)
  if(kind STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()

# orvalin_layer(TARGET FOLDER SOURCES...): the static library of one folder.
function(orvalin_layer target folder)
  add_library(${target} STATIC ${ARGN})
  orvalin_include_root(${target} ${folder})
  target_link_libraries(${target} PRIVATE orvalin_build_options)
endfunction()

# orvalin_program(TARGET SOURCES...): a program, with the shared settings.
function(orvalin_program target)
  add_executable(${target} ${ARGN})
  target_link_libraries(${target} PRIVATE orvalin_build_options)
endfunction()
