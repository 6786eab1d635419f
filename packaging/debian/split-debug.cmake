# Run by CPack on the staged package: strips every program as dh_strip would and keeps its
# debug symbols beside the package, as CPACK_KESTREL_DEBUG_DIR/.build-id/xx/rest.debug,
# where gdb and debuginfod look them up by the program's build id.
file(GLOB_RECURSE programs LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin/*")
foreach(program ${programs})
  execute_process(COMMAND readelf -n ${program} OUTPUT_VARIABLE notes RESULT_VARIABLE failed
                  ERROR_QUIET)
  if(failed)
    continue()  # not an ELF file
  endif()
  if(NOT notes MATCHES "Build ID: ([0-9a-f][0-9a-f])([0-9a-f]+)")
    message(FATAL_ERROR "${program} has no build id to file its debug symbols under")
  endif()
  set(debug_file "${CPACK_KESTREL_DEBUG_DIR}/.build-id/${CMAKE_MATCH_1}/${CMAKE_MATCH_2}.debug")
  get_filename_component(debug_folder ${debug_file} DIRECTORY)
  file(MAKE_DIRECTORY ${debug_folder})
  foreach(step "--only-keep-debug;--compress-debug-sections;${program};${debug_file}"
               "--remove-section=.comment;--remove-section=.note;--strip-unneeded;${program}"
               "--add-gnu-debuglink=${debug_file};${program}")
    execute_process(COMMAND objcopy ${step} RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "objcopy ${step} failed")
    endif()
  endforeach()
endforeach()
