# The layers of src/: one library each, and the rule that a layer includes
# only itself and what it uses.
#
#   vitrel_layer(NAME [USES layer...] [LINK target...] [INTERFACE] [DIR dir])
#
# makes the library vitrel_NAME from the sources in DIR (default src/NAME,
# without main.cpp), links it to the layers it USES and to LINK, and records
# the layers its files may name in an #include "layer/...": itself, the ones
# it uses and everything those may name. vitrel_include_rule records the same
# for a folder that is no library (a program). vitrel_write_layer_rules puts
# the rules where the layering test (cmake/CheckLayers.cmake) reads them.

function(vitrel_include_rule name dir)
  set(allowed ${name})
  foreach(used IN LISTS ARGN)
    get_property(below GLOBAL PROPERTY VITREL_ALLOWED_${used})
    if(NOT below)
      message(FATAL_ERROR "layer ${name} uses ${used}, which is not defined before it")
    endif()
    list(APPEND allowed ${below})
  endforeach()
  list(REMOVE_DUPLICATES allowed)
  set_property(GLOBAL PROPERTY VITREL_ALLOWED_${name} ${allowed})
  string(REPLACE ";" "," allowed "${allowed}")
  set_property(GLOBAL APPEND PROPERTY VITREL_INCLUDE_RULES "${name}|${dir}|${allowed}")
endfunction()

function(vitrel_layer name)
  cmake_parse_arguments(arg "INTERFACE" "DIR" "USES;LINK" ${ARGN})
  if(NOT arg_DIR)
    set(arg_DIR ${CMAKE_CURRENT_SOURCE_DIR}/${name})
  endif()
  set(target vitrel_${name})
  if(arg_INTERFACE)
    add_library(${target} INTERFACE)
    set(scope INTERFACE)
  else()
    file(GLOB sources CONFIGURE_DEPENDS ${arg_DIR}/*.cpp ${arg_DIR}/*.h)
    list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
    add_library(${target} STATIC ${sources})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    set(scope PUBLIC)
  endif()
  foreach(used IN LISTS arg_USES)
    target_link_libraries(${target} ${scope} vitrel_${used})
  endforeach()
  target_link_libraries(${target} ${scope} ${arg_LINK})
  set_property(GLOBAL APPEND PROPERTY VITREL_LAYERS ${name})
  vitrel_include_rule(${name} ${arg_DIR} ${arg_USES})
endfunction()

function(vitrel_write_layer_rules file)
  get_property(layers GLOBAL PROPERTY VITREL_LAYERS)
  get_property(rules GLOBAL PROPERTY VITREL_INCLUDE_RULES)
  file(WRITE ${file} "set(VITREL_LAYERS \"${layers}\")\nset(VITREL_INCLUDE_RULES \"${rules}\")\n")
endfunction()
