# vantrel_idl(TARGET IDL_FILE): compiles IDL_FILE with idlgen into <stem>.h and <stem>_i.cpp in
# the build tree, adds the identifiers to TARGET and puts the header on its include path.
function(vantrel_idl target idl_file)
  get_filename_component(stem ${idl_file} NAME_WE)
  get_filename_component(idl_path ${idl_file} ABSOLUTE)
  set(out_dir ${CMAKE_CURRENT_BINARY_DIR}/generated)
  set(header ${out_dir}/${stem}.h)
  set(iids ${out_dir}/${stem}_i.cpp)
  add_custom_command(
    OUTPUT ${header} ${iids}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${out_dir}
    COMMAND idlgen ${idl_path} --header ${header} --iids ${iids}
    DEPENDS idlgen ${idl_path}
    COMMENT "idlgen ${stem}.idl"
    VERBATIM)
  target_sources(${target} PRIVATE ${header} ${iids})
  target_include_directories(${target} PUBLIC ${out_dir})
endfunction()
