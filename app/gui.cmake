# Window-side build settings: libjpeg for the banner, the pictures drawn at
# build time by corvella_art, and the help page beside the executable.
pkg_check_modules(JPEG REQUIRED IMPORTED_TARGET libjpeg)
target_link_libraries(corvella_gui PRIVATE PkgConfig::JPEG)

set(corvella_resources ${CMAKE_SOURCE_DIR}/resources)
add_executable(corvella_art ${corvella_resources}/ArtGenerator.cpp)
target_link_libraries(corvella_art PRIVATE Qt6::Gui PkgConfig::JPEG)
set_target_properties(corvella_art PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/tools)

set(art_dir ${CMAKE_CURRENT_BINARY_DIR}/pictures)
set(icon_files ${art_dir}/icons/hicolor/scalable/apps/org.corvella.corvella.svg)
foreach(size 16 22 24 32 48 64 128 256)
  list(APPEND icon_files ${art_dir}/icons/hicolor/${size}x${size}/apps/org.corvella.corvella.png)
endforeach()
add_custom_command(
  OUTPUT ${art_dir}/banner.jpg ${art_dir}/logo.png ${icon_files}
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:corvella_art> ${art_dir}
  DEPENDS corvella_art
  COMMENT "Drawing the banner, the logo and the desktop icons")
# The desktop icons are installed, not compiled in (cmake/Install.cmake).
add_custom_target(corvella_icons ALL DEPENDS ${icon_files})
qt_add_resources(corvella_gui "pictures" PREFIX "/pictures" BASE ${art_dir}
                 FILES ${art_dir}/banner.jpg ${art_dir}/logo.png)

# The program opens its help page from its own folder.
configure_file(${corvella_resources}/Corvella.html ${CORVELLA_BIN_DIR}/Corvella.html COPYONLY)
# Its picture of the split page is the one scripts/screenshots.sh draws for the README.
configure_file(${CMAKE_SOURCE_DIR}/docs/split-page.png ${CORVELLA_BIN_DIR}/split-page.png COPYONLY)
