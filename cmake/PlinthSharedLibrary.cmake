# Builds one of the system's shared libraries: its internals come from a static
# library, and the version script leaves exactly one symbol exported.
function(plinth_add_shared_library name)
  cmake_parse_arguments(ARG "" "EXPORT;CORE;SOURCE" "" ${ARGN})
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${name}.map)
  file(WRITE ${script} "{\n  global: ${ARG_EXPORT};\n  local: *;\n};\n")
  add_library(${name} SHARED ${ARG_SOURCE})
  target_link_libraries(${name} PRIVATE ${ARG_CORE} plinth_build_flags)
  target_link_options(${name} PRIVATE
    "LINKER:--version-script=${script}" "LINKER:--exclude-libs,ALL" "LINKER:--no-undefined")
  set_target_properties(${name} PROPERTIES
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR}
    LINK_DEPENDS ${script})
endfunction()
