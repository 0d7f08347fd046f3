# libcups and libcupsimage, located through cups-config as CUPS documents.
find_program(CUPS_CONFIG cups-config REQUIRED)
execute_process(COMMAND ${CUPS_CONFIG} --cflags OUTPUT_VARIABLE _cups_cflags
                OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${CUPS_CONFIG} --libs OUTPUT_VARIABLE _cups_libs
                OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${CUPS_CONFIG} --serverbin OUTPUT_VARIABLE CUPS_SERVERBIN
                OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${CUPS_CONFIG} --datadir OUTPUT_VARIABLE CUPS_DATADIR
                OUTPUT_STRIP_TRAILING_WHITESPACE)
separate_arguments(_cups_cflags UNIX_COMMAND "${_cups_cflags}")
separate_arguments(_cups_libs UNIX_COMMAND "${_cups_libs}")

add_library(cups_cups INTERFACE)
target_compile_options(cups_cups INTERFACE ${_cups_cflags})
target_link_libraries(cups_cups INTERFACE ${_cups_libs})
add_library(cups::cups ALIAS cups_cups)

add_library(cups_image INTERFACE)
target_link_libraries(cups_image INTERFACE cupsimage cups::cups)
add_library(cups::image ALIAS cups_image)

# libcups 2.4 marks the PPD API deprecated; sources that use it say so here
# and keep every other warning an error.
function(rvc_uses_ppd_api)
  # Source properties are seen by targets of the calling directory.
  set_source_files_properties(${ARGN}
    PROPERTIES COMPILE_OPTIONS -Wno-deprecated-declarations)
endfunction()
