# cmake --install build --prefix P gives a tree that runs from anywhere:
#   P/bin/corvella, P/bin/corvella-cli
#   P/<libdir>/corvella/   the audio library, its add-on, the help page and
#                          the default Option.ini: the program's folder,
#                          found through the executables' run path
#   P/share/applications, metainfo, icons/hicolor, man/man1
include(GNUInstallDirs)
set(CORVELLA_PRIVATE_DIR ${CMAKE_INSTALL_LIBDIR}/corvella)
file(RELATIVE_PATH corvella_bin_to_private /${CMAKE_INSTALL_BINDIR} /${CORVELLA_PRIVATE_DIR})
set(corvella_id example.ondrel.Corvella)

foreach(program corvella corvella-cli)
  if(TARGET ${program})
    # The build tree's program gets the same run path. Otherwise CMake pads
    # its build run path with empty entries, to make room for this one at
    # install time, and an empty entry makes the loader look for every
    # library (the C library included) in the current folder first.
    set_target_properties(${program} PROPERTIES INSTALL_RPATH "$ORIGIN/${corvella_bin_to_private}"
                                                BUILD_WITH_INSTALL_RPATH ON)
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
foreach(library bass basswma)
  if(TARGET ${library})
    install(TARGETS ${library} LIBRARY DESTINATION ${CORVELLA_PRIVATE_DIR})
  endif()
endforeach()

set(corvella_resources ${CMAKE_SOURCE_DIR}/resources)
install(FILES ${corvella_resources}/Corvella.html ${corvella_resources}/Option.ini
        DESTINATION ${CORVELLA_PRIVATE_DIR})
install(FILES ${corvella_resources}/corvella-cli.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
if(TARGET corvella)
  install(FILES ${corvella_resources}/${corvella_id}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${corvella_resources}/${corvella_id}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  # Drawn at build time with the banner (app/gui.cmake).
  install(DIRECTORY ${CMAKE_BINARY_DIR}/app/pictures/icons/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
endif()
