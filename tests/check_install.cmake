# Installs the build into PREFIX and checks that every installed file is there, and
# nothing else.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX}
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
set(expected
    bin/vk9ctl bin/vk9rsc bin/vk9sim
    share/applications/vk9rsc.desktop
    share/doc/vk9rsc/changelog.gz share/doc/vk9rsc/copyright
    share/doc/vk9rsc/examples/lines.toml
    share/icons/hicolor/64x64/apps/vk9rsc.png
    share/man/man1/vk9ctl.1.gz share/man/man1/vk9rsc.1.gz share/man/man1/vk9sim.1.gz
    share/metainfo/vk9rsc.metainfo.xml)
file(GLOB_RECURSE everything RELATIVE ${PREFIX} ${PREFIX}/*)
list(SORT everything)
if(NOT everything STREQUAL expected)
  message(FATAL_ERROR "installed: ${everything}\nexpected: ${expected}")
endif()
