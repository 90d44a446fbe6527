# Installs the build into PREFIX and checks that every installed file is there.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX}
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
foreach(file bin/vk9rsc bin/vk9sim share/applications/vk9rsc.desktop
             share/icons/hicolor/64x64/apps/vk9rsc.png)
  if(NOT EXISTS ${PREFIX}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()
file(GLOB_RECURSE everything RELATIVE ${PREFIX} ${PREFIX}/*)
list(LENGTH everything count)
if(NOT count EQUAL 4)
  message(FATAL_ERROR "unexpected files installed: ${everything}")
endif()
