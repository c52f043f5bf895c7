# Empties every test's home folder before a run, so no suite sees what an
# earlier run left behind. Called as: cmake -DTR_TEST_HOME=<dir> -P ResetTestHomes.cmake
file(GLOB _homes LIST_DIRECTORIES true ${TR_TEST_HOME}/*)
foreach(h IN LISTS _homes)
  if(IS_DIRECTORY ${h})
    file(REMOVE_RECURSE ${h})
    file(MAKE_DIRECTORY ${h}/config ${h}/data ${h}/tmp ${h}/cache)
  endif()
endforeach()
