# The Debian package: after a build, "cpack -G DEB" in the build folder
# makes corvella_<version>_<arch>.deb of the install tree (cmake/Install.cmake)
# under /usr: the programs in /usr/bin, the program's folder in
# /usr/lib/corvella. scripts/package-check.sh builds it, unpacks it into a
# clean root folder and runs it from there, with lintian and appstreamcli.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvella)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${CORVELLA_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "MP3 cutter and ID3 tag editor")
# Wrapped by hand: the control file keeps the lines as they are given.
set(CPACK_PACKAGE_DESCRIPTION [[
Corvella opens one MP3 file, shows its tags, length and waveform, plays
it, and saves a marked section as a new file or splits the whole file
into 2 to 99 equal parts. Cutting copies whole MP3 frames, so the sound
is never re-encoded, and the ID3v1 and ID3v2 tags of the source are
copied onto every part. A second page edits both tags side by side.
The command corvella-cli does the same from a shell.]])
# The dependencies of what the programs and the audio library link.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The audio library opens these itself when it first needs them
# (engine/Output.cpp, engine/*Decoder.cpp), so dpkg-shlibdeps never sees
# them; the packages that hold them are looked up when cpack runs.
set(CORVELLA_LAZY_LIBRARIES libSDL2-2.0.so.0 libsndfile.so.1 libopenmpt.so.0 libvorbisfile.so.3)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CorvellaPackageDepends.cmake)
configure_file(${CMAKE_CURRENT_LIST_DIR}/PackageDepends.cmake.in ${CPACK_PROJECT_CONFIG_FILE} @ONLY)
include(CPack)

# The package is made from the normal build; the sanitizer build's programs
# are not for installing.
if(CORVELLA_BUILD_TESTS AND NOT CORVELLA_SANITIZE AND TARGET corvella)
  add_test(NAME package_check COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/package-check.sh ${CMAKE_BINARY_DIR})
endif()
