# Install layout and the Debian package.
include(GNUInstallDirs)

# Man pages and metainfo carry the project version.
foreach(page vitrel-ecg vitrel-analyze vitrel-synth)
  configure_file(docs/${page}.1.in ${CMAKE_BINARY_DIR}/docs/${page}.1 @ONLY)
endforeach()
configure_file(resources/com.example.vitrel_ecg.metainfo.xml.in
  ${CMAKE_BINARY_DIR}/resources/com.example.vitrel_ecg.metainfo.xml @ONLY)

if(TARGET vitrel-ecg)
  install(TARGETS vitrel-ecg RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES resources/vitrel-ecg.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  # The recording types the desktop entry names; shared-mime-info's trigger
  # rebuilds the database when the package is installed or removed.
  install(FILES resources/vitrel-ecg-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME vitrel-ecg.xml)
  install(FILES ${CMAKE_BINARY_DIR}/resources/com.example.vitrel_ecg.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  foreach(size 16 22 24 32 48 64 128 256)
    install(FILES resources/icons/vitrel-ecg-${size}.png
      DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME vitrel-ecg.png)
  endforeach()
  install(FILES resources/icons/vitrel-ecg.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  install(FILES ${CMAKE_BINARY_DIR}/docs/vitrel-ecg.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
install(TARGETS vitrel-analyze vitrel-synth RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS vitrel-decode RUNTIME DESTINATION libexec/vitrel-ecg)
if(TARGET vitrel-analyze-report)
  install(TARGETS vitrel-analyze-report RUNTIME DESTINATION libexec/vitrel-ecg)
endif()
install(FILES ${CMAKE_BINARY_DIR}/docs/vitrel-analyze.1 ${CMAKE_BINARY_DIR}/docs/vitrel-synth.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vitrel-ecg)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "support@example.com")
set(CPACK_PACKAGE_VENDOR "维特尔医疗电子有限公司")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "ECG analysis for hand-held recorder and standard ECG recordings")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "ECG analysis for hand-held recorder and standard ECG recordings
 Opens short 21.6 s recordings with the recorder's findings, long Holter
 recordings and standard recordings (EDF/EDF+, BDF, GDF, WFDB, SCP-ECG,
 HL7 aECG), shows a calibrated scrolling waveform, detects R waves, lists
 irregular beats, hourly heart rates and heart-rate variability, prints a
 report and exports the beats as CSV, EDF+ or a WFDB record.")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Chinese captions need the CJK faces; Qt's platform plugins come with libqt6gui6.
# BioSig and libsoxr are also found by shlibdeps; named here so the package says so.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-noto-cjk, libbiosig3, libsoxr0, libseccomp2")
# Qt's own dialogs in Chinese.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
