# The macOS application bundle, "Korvo Connector.app": the korvo-connector launcher as the bundle's
# executable and the two programs it hands over to (the desktop app without a command, the
# command line with one) next to it in Contents/MacOS, this Info.plist and the icon in
# Contents/Resources. A menu-bar app (LSUIElement): no Dock icon. Signing,
# notarization and the frameworks the macOS platform services need are described in
# docs/PORTING.md. Only an Apple build uses the bundle; every build writes the Info.plist, so a
# test keeps the template valid here too.
set(KORVO_BUNDLE_IDENTIFIER "com.korvo.connector" CACHE STRING "CFBundleIdentifier of the app")
set(_plist "${CMAKE_BINARY_DIR}/macos/Info.plist")
configure_file("${PROJECT_SOURCE_DIR}/contrib/macos/Info.plist.in" "${_plist}" @ONLY)

if(APPLE)
    # Made from contrib/icons with iconutil on the Mac; not in the tree yet.
    set(_icon "${PROJECT_SOURCE_DIR}/contrib/macos/korvo-connector.icns")
    if(EXISTS "${_icon}")
        target_sources(korvo-connector PRIVATE "${_icon}")
        set_source_files_properties("${_icon}" PROPERTIES MACOSX_PACKAGE_LOCATION Resources)
    endif()
    set_target_properties(korvo-connector PROPERTIES
        MACOSX_BUNDLE TRUE
        MACOSX_BUNDLE_INFO_PLIST "${_plist}"
        OUTPUT_NAME korvo-connector)
    add_custom_command(TARGET korvo-connector POST_BUILD
        COMMAND "${CMAKE_COMMAND}" -E copy "$<TARGET_FILE:korvo-connector-desktop>"
            "$<TARGET_FILE:korvo-connector-cli>" "$<TARGET_BUNDLE_CONTENT_DIR:korvo-connector>/MacOS/"
        VERBATIM)
    install(TARGETS korvo-connector BUNDLE DESTINATION . COMPONENT connector)
    # Qt's frameworks and plugins go into the bundle with macdeployqt; the bundle is then signed
    # with the hardened runtime and notarized (docs/PORTING.md, "Build and release").
    find_program(MACDEPLOYQT macdeployqt HINTS "${Qt6_DIR}/../../../bin")
    if(MACDEPLOYQT)
        add_custom_target(bundle
            COMMAND "${MACDEPLOYQT}" "$<TARGET_BUNDLE_DIR:korvo-connector>" -always-overwrite
            DEPENDS korvo-connector
            COMMENT "Copying Qt into the application bundle")
    endif()
endif()
