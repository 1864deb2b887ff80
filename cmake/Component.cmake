# modem_component(<name> DIRS <dir>... [FILES <header>...] DEPS <target>...)
# A static library of every .cpp/.c under the given folders (found again whenever a file is added).
# A component with no sources yet is an interface library, so the tree builds at every stage.
#
# Each component sees only its own folders and those of the components it depends on: its include directory
# is a view (build/include_views/<name>) that holds links to its own folders (and single FILES) at their
# repository paths, so an include names the same path as before, and an include of a folder the component
# does not depend on fails to compile. The table of folders and dependencies is also written for the
# include check (cmake/CheckIncludes.cmake).
function(modem_component name)
  cmake_parse_arguments(MC "" "" "DIRS;FILES;DEPS" ${ARGN})
  set(srcs)
  foreach(d IN LISTS MC_DIRS)
    file(GLOB_RECURSE found CONFIGURE_DEPENDS
         ${CMAKE_SOURCE_DIR}/${d}/*.cpp ${CMAKE_SOURCE_DIR}/${d}/*.c)
    list(APPEND srcs ${found})
  endforeach()
  set(view ${CMAKE_BINARY_DIR}/include_views/${name})
  foreach(p IN LISTS MC_DIRS MC_FILES)
    get_filename_component(parent ${view}/${p} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    if(NOT EXISTS ${view}/${p})
      file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${p} ${view}/${p} SYMBOLIC)
    endif()
  endforeach()
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_include_directories(${name} PUBLIC ${view})
    target_link_libraries(${name} PUBLIC ${MC_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${view})
    target_link_libraries(${name} INTERFACE ${MC_DEPS})
  endif()
  # name|folders and files|dependencies (components only)
  set(deps)
  foreach(d IN LISTS MC_DEPS)
    if(NOT d MATCHES "::")
      list(APPEND deps ${d})
    endif()
  endforeach()
  string(REPLACE ";" "," dirs_text "${MC_DIRS};${MC_FILES}")
  string(REPLACE ";" "," deps_text "${deps}")
  set_property(GLOBAL APPEND PROPERTY MODEM_COMPONENT_TABLE "${name}|${dirs_text}|${deps_text}")
endfunction()

# Writes the table of components for the include check.
function(modem_write_component_table file)
  get_property(rows GLOBAL PROPERTY MODEM_COMPONENT_TABLE)
  string(REPLACE ";" "\n" text "${rows}")
  file(WRITE ${file} "${text}\n")
endfunction()
