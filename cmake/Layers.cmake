# One static library per layer folder. Every .cpp/.h in the folder belongs to it,
# so adding a file needs no edit here; the dependencies between layers are listed
# once in src/CMakeLists.txt and must stay free of cycles.
function(tr_layer name dir)
  cmake_parse_arguments(L "" "" "DEPS" ${ARGN})
  file(GLOB _src CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.c ${dir}/*.h ${dir}/*.qrc)
  list(FILTER _src EXCLUDE REGEX ".*/main\\.cpp$")
  set(_has_cpp FALSE)
  foreach(f IN LISTS _src)
    if(f MATCHES "\\.(cpp|c)$")
      set(_has_cpp TRUE)
    endif()
  endforeach()
  if(_has_cpp)
    add_library(${name} STATIC ${_src})
    target_include_directories(${name} PUBLIC ${dir})
    target_link_libraries(${name} PUBLIC ${L_DEPS})
    target_compile_definitions(${name} PUBLIC QT_MESSAGELOGCONTEXT)
    target_compile_options(${name} PRIVATE -Wall -Wextra -Wno-unused-parameter)
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${dir})
    target_link_libraries(${name} INTERFACE ${L_DEPS})
  endif()
endfunction()

# Adds every folder below the current one that has a CMakeLists.txt: one per
# area of tests or benchmarks, so a new area needs no edit here.
function(tr_add_area_folders)
  file(GLOB _areas CONFIGURE_DEPENDS LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(a IN LISTS _areas)
    if(IS_DIRECTORY ${a} AND EXISTS ${a}/CMakeLists.txt)
      add_subdirectory(${a})
    endif()
  endforeach()
endfunction()

# Links a shared library whether or not the program calls any of its
# functions (the linker drops such libraries by default): for libraries that
# stand in for functions of another.
set(CMAKE_LINK_LIBRARY_USING_TR_ALWAYS "LINKER:--push-state,--no-as-needed" "<LINK_ITEM>" "LINKER:--pop-state")
set(CMAKE_LINK_LIBRARY_USING_TR_ALWAYS_SUPPORTED TRUE)
