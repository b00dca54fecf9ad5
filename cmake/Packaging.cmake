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
