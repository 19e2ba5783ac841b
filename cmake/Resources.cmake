# vantrel_resources(TARGET TYPE NAME LANGUAGE FILE [TYPE NAME LANGUAGE FILE ...]): compiles the
# files into the resource table that TARGET exports (read by the platform's FindResource).
function(vantrel_resources target)
  set(args ${ARGN})
  set(files)
  list(LENGTH args count)
  math(EXPR last "${count} - 1")
  foreach(i RANGE 3 ${last} 4)
    list(GET args ${i} file)
    get_filename_component(file ${file} ABSOLUTE)
    list(APPEND files ${file})
    list(REMOVE_AT args ${i})
    list(INSERT args ${i} ${file})
  endforeach()
  set(out ${CMAKE_CURRENT_BINARY_DIR}/generated/${target}_resources.cpp)
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/generated
    COMMAND rcgen ${out} ${args}
    DEPENDS rcgen ${files}
    COMMENT "rcgen ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE ${out})
endfunction()
