# cmake --install build --prefix P gives a tree that runs from anywhere:
#   P/bin/corvella, P/bin/corvella-cli
#   P/lib/corvella/        the audio library, its add-on, the help page and
#                          the default Option.ini: the program's folder,
#                          found through the executables' run path
#   P/share/applications, metainfo, icons/hicolor, man/man1, doc/corvella
# The Debian package (cmake/Packaging.cmake) is this tree under /usr.
include(GNUInstallDirs)
# Not the multiarch library folder: the man page names this one, and a
# private folder under /usr/lib is where Debian keeps a program's own
# libraries whatever the prefix was at configure time.
set(CORVELLA_PRIVATE_DIR lib/corvella)
file(RELATIVE_PATH corvella_bin_to_private /${CMAKE_INSTALL_BINDIR} /${CORVELLA_PRIVATE_DIR})
# The AppStream component id, which the desktop entry, the metainfo and the
# icons are named after.
set(corvella_id org.corvella.corvella)

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
set(corvella_generated ${CMAKE_BINARY_DIR}/resources)
install(FILES ${corvella_resources}/Corvella.html ${corvella_resources}/Option.ini
              ${CMAKE_SOURCE_DIR}/docs/split-page.png
        DESTINATION ${CORVELLA_PRIVATE_DIR})

# Man pages and the change log are installed compressed, as Debian wants
# them; gzip -n leaves the time out, so that the same sources give the same
# package.
set(corvella_compressed_docs)
function(corvella_compressed_doc source output)
  set(plain ${corvella_generated}/${output})
  configure_file(${source} ${plain} @ONLY)
  add_custom_command(OUTPUT ${plain}.gz
                     COMMAND gzip -9nf -k ${plain}
                     DEPENDS ${plain}
                     COMMENT "Compressing ${output}")
  set(corvella_compressed_docs ${corvella_compressed_docs} ${plain}.gz PARENT_SCOPE)
endfunction()

set(CORVELLA_PACKAGE_MAINTAINER "Corvella maintainers <maintainers@corvella.example>"
    CACHE STRING "Maintainer of the Debian package and its change log")
corvella_compressed_doc(${corvella_resources}/corvella-cli.1 man/corvella-cli.1)
corvella_compressed_doc(${corvella_resources}/debian/changelog doc/changelog)
install(FILES ${corvella_generated}/man/corvella-cli.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${corvella_generated}/doc/changelog.gz ${corvella_resources}/debian/copyright
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/corvella)

if(TARGET corvella)
  corvella_compressed_doc(${corvella_resources}/corvella.1 man/corvella.1)
  install(FILES ${corvella_generated}/man/corvella.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${corvella_resources}/${corvella_id}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

  # The screenshots are the program's own pictures (scripts/screenshots.sh
  # takes them into docs/); AppStream wants them at a web address, so they
  # are listed only once the address where docs/ is published is given.
  set(CORVELLA_SCREENSHOT_URL "" CACHE STRING
      "Web folder holding split-page.png and tag-page.png for the AppStream metainfo (none: no screenshots listed)")
  file(READ ${corvella_resources}/${corvella_id}.metainfo.xml.in metainfo)
  if(CORVELLA_SCREENSHOT_URL STREQUAL "")
    string(REGEX REPLACE "  <screenshots>.*</screenshots>\n" "" metainfo "${metainfo}")
  endif()
  string(REGEX REPLACE "/+$" "" CORVELLA_SCREENSHOT_URL "${CORVELLA_SCREENSHOT_URL}")
  file(CONFIGURE OUTPUT ${corvella_generated}/${corvella_id}.metainfo.xml CONTENT "${metainfo}" @ONLY)
  set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               ${corvella_resources}/${corvella_id}.metainfo.xml.in)
  install(FILES ${corvella_generated}/${corvella_id}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

  # Drawn at build time with the banner (app/gui.cmake). Only the icons of
  # this id: a build folder may still hold those drawn under an older name.
  install(DIRECTORY ${CMAKE_BINARY_DIR}/app/pictures/icons/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons
          FILES_MATCHING PATTERN "${corvella_id}.*")
endif()
add_custom_target(corvella_docs ALL DEPENDS ${corvella_compressed_docs})
