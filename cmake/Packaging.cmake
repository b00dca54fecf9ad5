# The Debian package, made from the install rules: `cpack -G DEB` in the build folder writes
# quav-lab_<version>_<arch>.deb. Its run-time dependencies are read from the programs' shared
# libraries by dpkg-shlibdeps, so they follow whatever the build links.
#
# No maintainer scripts: dpkg triggers of desktop-file-utils, shared-mime-info and
# hicolor-icon-theme refresh the desktop, file type and icon caches whenever a package puts
# files in their folders.
#
# Only what users run is installed: midi_peer stands in for a DAW in the tests, and the
# benchmarks measure a build.
set(CPACK_PACKAGE_NAME quav-lab)
set(CPACK_PACKAGE_VERSION ${QUAV_VERSION})
set(CPACK_PACKAGE_VENDOR "QUAV Lab")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find the key of your music without uploading it")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "\
QUAV Lab finds the musical key of beats and other audio on the user's own
computer: a local server analyses it, and its page, the lab, opens in the web
browser. The QUAV Lab window starts the server and opens the lab, and opens
the key files the lab exports (.quavkey).
.
Two MIDI relays, surface_relay and sysex_relay, exchange MIDI with a digital
audio workstation through JACK.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "QUAV Lab developers <developers@quav.app>")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The relays talk to a JACK server (jackd2, or PipeWire's through pw-jack); the window needs none.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "jackd2 | pipewire-jack")
# The desktop entry is written at install time with the installed prefix; with DESTDIR the
# install sees /usr, not the staging folder, as its prefix.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)

# What Debian asks of every package beside the programs: the copyright and the changelog
# (compressed, without a time stamp, so the package builds the same each time).
set(changelog ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(OUTPUT ${changelog}
  COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/changelog > ${changelog}
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog)
add_custom_target(quav_lab_changelog ALL DEPENDS ${changelog})
set(doc ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_PACKAGE_NAME})
install(FILES packaging/copyright ${changelog} DESTINATION ${doc})

# Store entry and desktop entry as software centres and desktops read them; any remark fails.
add_test(NAME metainfo_validates
  COMMAND appstreamcli validate --no-net
          ${PROJECT_SOURCE_DIR}/main/toolkit/gtk/app.quav.Lab.metainfo.xml)
set(QUAV_LAUNCHER ${CMAKE_INSTALL_FULL_BINDIR}/tone_launcher)
configure_file(main/toolkit/gtk/app.quav.Lab.desktop.in packaging/app.quav.Lab.desktop @ONLY)
add_test(NAME desktop_entry_validates
  COMMAND desktop-file-validate ${PROJECT_BINARY_DIR}/packaging/app.quav.Lab.desktop)
set_tests_properties(metainfo_validates desktop_entry_validates PROPERTIES LABELS unit
  FAIL_REGULAR_EXPRESSION "(W|E|I|warning|error):")

# The package built, checked and run unpacked; a sanitizer build would package itself instead.
if(NOT QUAV_SANITIZE AND NOT QUAV_FUZZ)
  quav_add_pytest(packaging/tests/test_package.py LABEL e2e)
endif()
