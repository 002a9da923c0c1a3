# talvori_generated(OUTPUT file COMMAND command... DEPENDS dependencies... [COMMENT text])
#
# Makes a data file at build time with COMMAND, or, in a build that reuses another build tree's
# generated data (TALVORI_GENERATED_DATA), copies the file at the same place in that tree. The
# checked builds reuse the plain build's data, which instrumented generators would take minutes
# to make the same, byte for byte.
function(talvori_generated)
  cmake_parse_arguments(arg "" "OUTPUT;COMMENT" "COMMAND;DEPENDS" ${ARGN})
  get_filename_component(folder "${arg_OUTPUT}" DIRECTORY)
  file(MAKE_DIRECTORY "${folder}")
  if(TALVORI_GENERATED_DATA)
    file(RELATIVE_PATH relative "${PROJECT_BINARY_DIR}" "${arg_OUTPUT}")
    set(made "${TALVORI_GENERATED_DATA}/${relative}")
    add_custom_command(
      OUTPUT "${arg_OUTPUT}"
      COMMAND ${CMAKE_COMMAND} -E copy "${made}" "${arg_OUTPUT}"
      DEPENDS "${made}" VERBATIM)
  else()
    add_custom_command(
      OUTPUT "${arg_OUTPUT}"
      COMMAND ${arg_COMMAND}
      DEPENDS ${arg_DEPENDS}
      COMMENT "${arg_COMMENT}" VERBATIM)
  endif()
endfunction()

# talvori_data_tool(TARGET): marks a program that only makes data files or pictures. A build that
# reuses another tree's generated data runs none of them, so it does not build them either.
function(talvori_data_tool target)
  if(TALVORI_GENERATED_DATA)
    set_target_properties(${target} PROPERTIES EXCLUDE_FROM_ALL TRUE)
  endif()
endfunction()
