# rvc_library(<name> SOURCES <files...> PUBLIC_HEADERS <headers...>
#             [PPD_API <files...>] [LIBS <targets...>])
# One static library per folder. Other folders see only its public headers:
# they are linked into <build>/include/<folder>/, the library's public include
# directory, while the folder's own sources reach its other headers by their
# bare names.
function(rvc_library name)
  cmake_parse_arguments(L "" "" "SOURCES;PUBLIC_HEADERS;PPD_API;LIBS" ${ARGN})
  add_library(${name} STATIC ${L_SOURCES})
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  set(inc ${CMAKE_BINARY_DIR}/include)
  file(REMOVE_RECURSE ${inc}/${folder})
  file(MAKE_DIRECTORY ${inc}/${folder})
  foreach(h ${L_PUBLIC_HEADERS})
    file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR}/${h} ${inc}/${folder}/${h} SYMBOLIC)
  endforeach()
  target_include_directories(${name} PUBLIC ${inc})
  target_link_libraries(${name} PUBLIC ${L_LIBS})
  if(L_PPD_API)
    rvc_uses_ppd_api(${L_PPD_API})
  endif()
endfunction()
