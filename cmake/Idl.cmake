# vantrel_idl(TARGET IDL_FILE): compiles IDL_FILE into <stem>.h and the identifiers of its
# interfaces and classes in the build tree, adds the identifiers to TARGET and puts the header on
# its include path. On Linux the compiler is idlgen; the Windows build uses widl, the interface
# compiler that writes the system's own headers.
function(vantrel_idl target idl_file)
  get_filename_component(stem ${idl_file} NAME_WE)
  get_filename_component(idl_path ${idl_file} ABSOLUTE)
  set(out_dir ${CMAKE_CURRENT_BINARY_DIR}/generated)
  set(header ${out_dir}/${stem}.h)
  if(WIN32)
    set(iids ${out_dir}/${stem}_i.c)
    add_custom_command(
      OUTPUT ${header} ${iids}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${out_dir}
      COMMAND ${WIDL} --win64 -I ${WIDL_IDL_DIR} -h -H ${header} -u -U ${iids} ${idl_path}
      DEPENDS ${idl_path}
      COMMENT "widl ${stem}.idl"
      VERBATIM)
  else()
    set(iids ${out_dir}/${stem}_i.cpp)
    add_custom_command(
      OUTPUT ${header} ${iids}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${out_dir}
      COMMAND idlgen ${idl_path} --header ${header} --iids ${iids}
      DEPENDS idlgen ${idl_path}
      COMMENT "idlgen ${stem}.idl"
      VERBATIM)
  endif()
  target_sources(${target} PRIVATE ${header} ${iids})
  if(WIN32)
    # widl's headers are the system's kind: their default BSTR arguments are wide literals.
    target_include_directories(${target} SYSTEM PUBLIC ${out_dir})
  else()
    target_include_directories(${target} PUBLIC ${out_dir})
  endif()
endfunction()

# widl and the system IDL files it imports (oaidl.idl, ocidl.idl), from Debian's wine64-tools;
# /usr/bin/widl is the wine package's alternative, widl-stable the tool itself.
if(WIN32)
  find_program(WIDL NAMES widl widl-stable PATHS /usr/lib/wine REQUIRED)
  find_path(WIDL_IDL_DIR oaidl.idl PATHS /usr/include/wine/wine/windows /usr/include/wine/windows
            NO_CMAKE_FIND_ROOT_PATH REQUIRED)
endif()
