# vantrel_resources(TARGET TYPE NAME LANGUAGE FILE [TYPE NAME LANGUAGE FILE ...]): compiles the
# files into the resources of TARGET. On Linux they become the resource table that TARGET
# exports (read by the platform's FindResource); the Windows build writes a resource script for
# windres: the type library compiled from its IDL file by widl, registry scripts as they are,
# and the version block (type 16) from its key=value lines.
function(vantrel_resources target)
  if(WIN32)
    vantrel_windows_resources(${target} ${ARGN})
    return()
  endif()
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

function(vantrel_windows_resources target)
  set(args ${ARGN})
  set(out_dir ${CMAKE_CURRENT_BINARY_DIR}/generated)
  set(rc "// Generated from the resource list of ${target}.\n")
  set(depends)
  list(LENGTH args count)
  math(EXPR last "${count} - 1")
  foreach(i RANGE 0 ${last} 4)
    math(EXPR i_name "${i} + 1")
    math(EXPR i_lang "${i} + 2")
    math(EXPR i_file "${i} + 3")
    list(GET args ${i} type)
    list(GET args ${i_name} name)
    list(GET args ${i_lang} lang)
    list(GET args ${i_file} file)
    get_filename_component(file ${file} ABSOLUTE)
    math(EXPR primary "${lang} % 1024")
    math(EXPR sub "${lang} / 1024")
    string(APPEND rc "LANGUAGE ${primary}, ${sub}\n")
    if(type STREQUAL "TYPELIB")
      get_filename_component(stem ${file} NAME_WE)
      set(tlb ${out_dir}/${stem}.tlb)
      add_custom_command(
        OUTPUT ${tlb}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${out_dir}
        COMMAND ${WIDL} --win64 -I ${WIDL_IDL_DIR} -t -T ${tlb} ${file}
        DEPENDS ${file}
        COMMENT "widl ${stem}.tlb"
        VERBATIM)
      list(APPEND depends ${tlb})
      string(APPEND rc "${name} TYPELIB \"${tlb}\"\n")
    elseif(type STREQUAL "16")
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
      string(APPEND rc "${name} VERSIONINFO\n")
      vantrel_version_block(${file} ${lang} block)
      string(APPEND rc "${block}")
    else()
      list(APPEND depends ${file})
      string(APPEND rc "${name} ${type} \"${file}\"\n")
    endif()
  endforeach()
  set(out ${out_dir}/${target}.rc)
  file(GENERATE OUTPUT ${out} CONTENT "${rc}")
  set_source_files_properties(${out} PROPERTIES OBJECT_DEPENDS "${depends}")
  target_sources(${target} PRIVATE ${out})
endfunction()

# The VERSIONINFO body for the key=value lines of file, strings in language lang and code page
# 949 (the ANSI code page of the system's texts).
function(vantrel_version_block file lang out_var)
  file(STRINGS ${file} lines)
  set(strings)
  set(file_version 0,0,0,0)
  set(product_version 0,0,0,0)
  foreach(line IN LISTS lines)
    string(FIND "${line}" "=" eq)
    string(SUBSTRING "${line}" 0 ${eq} key)
    math(EXPR after "${eq} + 1")
    string(SUBSTRING "${line}" ${after} -1 value)
    if(key STREQUAL "FileVersion")
      string(REPLACE " " "" file_version "${value}")
    elseif(key STREQUAL "ProductVersion")
      string(REPLACE " " "" product_version "${value}")
    endif()
    string(APPEND strings "      VALUE \"${key}\", \"${value}\"\n")
  endforeach()
  math(EXPR lang_hex "${lang}" OUTPUT_FORMAT HEXADECIMAL)
  string(SUBSTRING "${lang_hex}" 2 -1 lang_digits)
  string(LENGTH "${lang_digits}" n)
  while(n LESS 4)
    string(PREPEND lang_digits "0")
    math(EXPR n "${n} + 1")
  endwhile()
  set(${out_var} "FILEVERSION ${file_version}
PRODUCTVERSION ${product_version}
FILEOS 0x40004
FILETYPE 2
BEGIN
  BLOCK \"StringFileInfo\"
  BEGIN
    BLOCK \"${lang_digits}03b5\"
    BEGIN
${strings}    END
  END
  BLOCK \"VarFileInfo\"
  BEGIN
    VALUE \"Translation\", ${lang_hex}, 949
  END
END
" PARENT_SCOPE)
endfunction()
