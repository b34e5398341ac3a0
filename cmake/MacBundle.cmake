# The Info.plist of the macOS application bundle, "Korvo Connector.app", written by every build
# from its template so that a test keeps the template valid (MacInfoPlistIsValid). A menu-bar app
# (LSUIElement): no Dock icon. No macOS build exists yet (the top CMakeLists.txt stops one): the
# bundle itself (the korvo-connector launcher as its executable, the two programs it hands over
# to next to it in Contents/MacOS, the icon, Qt copied in by macdeployqt), signing and
# notarization are described in docs/PORTING.md.
set(KORVO_BUNDLE_IDENTIFIER "com.korvo.connector" CACHE STRING "CFBundleIdentifier of the app")
configure_file("${PROJECT_SOURCE_DIR}/contrib/macos/Info.plist.in"
    "${CMAKE_BINARY_DIR}/macos/Info.plist" @ONLY)
