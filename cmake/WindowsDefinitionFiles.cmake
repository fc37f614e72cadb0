# Module-definition files for the Windows targets.
#
# The files in the source tree are written for 32-bit Windows, where __stdcall
# symbols carry their argument size (VpiMain@4). 64-bit Windows has a single
# calling convention and no such suffixes: there the same file is used with the
# suffixes and the aliases they need taken out.
function(toldex_definition_file source out_var)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(${out_var} ${source} PARENT_SCOPE)
    return()
  endif()
  get_filename_component(name ${source} NAME)
  set(target ${CMAKE_CURRENT_BINARY_DIR}/x64-${name})
  file(READ ${source} text)
  string(REGEX REPLACE "=[A-Za-z_][A-Za-z_0-9]*@[0-9]+" "" text "${text}")
  string(REGEX REPLACE "@[0-9]+" "" text "${text}")
  file(CONFIGURE OUTPUT ${target} CONTENT "${text}" @ONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  set(${out_var} ${target} PARENT_SCOPE)
endfunction()
