# Installs the build into ROOT, as a package would (prefix /usr, a DESTDIR), and checks that
# every installed file is there, and nothing else.
file(REMOVE_RECURSE ${ROOT})
execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${ROOT}
                        ${CMAKE_COMMAND} --install ${BUILD} --prefix /usr
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
set(expected
    etc/vk9gate/example.toml
    lib/systemd/system/vk9gate@.service
    usr/bin/vk9ctl usr/bin/vk9gate usr/bin/vk9rsc usr/bin/vk9sim
    usr/share/applications/vk9rsc.desktop
    usr/share/doc/vk9ctl/changelog.gz usr/share/doc/vk9ctl/copyright
    usr/share/doc/vk9gate/changelog.gz usr/share/doc/vk9gate/copyright
    usr/share/doc/vk9gate/examples/hall.toml
    usr/share/doc/vk9gate/examples/vk9gate-alerts.yml
    usr/share/doc/vk9gate/web-protocol.md
    usr/share/doc/vk9rsc/changelog.gz usr/share/doc/vk9rsc/copyright
    usr/share/doc/vk9rsc/examples/lines.toml
    usr/share/doc/vk9sim/changelog.gz usr/share/doc/vk9sim/copyright
    usr/share/icons/hicolor/64x64/apps/vk9rsc.png
    usr/share/man/man1/vk9ctl.1.gz usr/share/man/man1/vk9rsc.1.gz usr/share/man/man1/vk9sim.1.gz
    usr/share/man/man8/vk9gate.8.gz
    usr/share/metainfo/vk9rsc.metainfo.xml)
file(GLOB_RECURSE everything RELATIVE ${ROOT} ${ROOT}/*)
list(SORT everything)
if(NOT everything STREQUAL expected)
  message(FATAL_ERROR "installed: ${everything}\nexpected: ${expected}")
endif()
