# The control panel program (Windows builds). Included from panel/CMakeLists.txt.
add_library(tess_panel STATIC
  app/KestaACPLUIApp.cpp app/KestaACPLUIDlg.cpp app/DlgDevice.cpp app/DlgPages.cpp app/PanelTray.cpp
  pages/PPageASIO.cpp pages/PPagePlay.cpp
  endpoint/AudioDeviceManager.cpp endpoint/Player.cpp endpoint/TopologyWalk.cpp)
target_include_directories(tess_panel PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/app ${CMAKE_CURRENT_SOURCE_DIR}/pages
  ${CMAKE_CURRENT_SOURCE_DIR}/endpoint)
target_link_libraries(tess_panel PUBLIC tess_panel_core tess_skin tess_remote tess_ksaudio tess_settings tess_devices tess_common
  ole32 oleaut32 uuid propsys)
tess_warnings(tess_panel)

include(${CMAKE_SOURCE_DIR}/tools/skinart/SkinArtFiles.cmake)
# Icon 128 and the manifest; the icon is drawn by the skin artwork.
configure_file(app/PanelResources.rc.in ${CMAKE_CURRENT_BINARY_DIR}/PanelResources.rc @ONLY)
set(TESS_PANEL_RC ${CMAKE_CURRENT_BINARY_DIR}/PanelResources.rc)
function(tess_panel_resources target)
  target_sources(${target} PRIVATE ${TESS_PANEL_RC})
  set_source_files_properties(${TESS_PANEL_RC} TARGET_DIRECTORY ${target} PROPERTIES
    OBJECT_DEPENDS "${SKINART_FILES};${CMAKE_CURRENT_SOURCE_DIR}/app/Panel.manifest")
  target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/app)
  tess_skin_resources(${target})
  tess_remote_resources(${target})
endfunction()

add_executable(TessalineUsbAudioDevice2ACPLUI WIN32 app/main.cpp)
target_link_libraries(TessalineUsbAudioDevice2ACPLUI PRIVATE tess_panel)
tess_panel_resources(TessalineUsbAudioDevice2ACPLUI)
tess_warnings(TessalineUsbAudioDevice2ACPLUI)
tess_deliverable(TessalineUsbAudioDevice2ACPLUI)

if(TESS_TESTS)
  # The dialog in this process; and the program in its own, with the driver (which keeps the
  # status block open for the rest of the process that loaded it: hence a program of its own).
  tess_wine_test(panel_wine_test SOURCES tests/PanelDialogWineTest.cpp tests/PanelEndpointWineTest.cpp
    tests/PanelTestSupport.cpp LIBS tess_panel tess_virtualdac DEPENDS TessalineUsbAudioDevice2ACPLUI)
  tess_wine_test(panel_program_wine_test SOURCES tests/PanelProgramWineTest.cpp tests/PanelTestSupport.cpp
    LIBS tess_panel DEPENDS TessalineUsbAudioDevice2ACPLUI TessalineUsbAudioDevice2ASIO asiohost)
  foreach(t panel_wine_test panel_program_wine_test)
    if(TARGET ${t})
      tess_panel_resources(${t})
      target_include_directories(${t} PRIVATE ${CMAKE_SOURCE_DIR}/panel/skin/tests)
      target_sources(${t} PRIVATE ${CMAKE_SOURCE_DIR}/panel/skin/tests/PngWriter.cpp)
      target_compile_definitions(${t} PRIVATE PANEL_EXE="$<TARGET_FILE:TessalineUsbAudioDevice2ACPLUI>"
        DRIVER_DLL="$<TARGET_FILE:TessalineUsbAudioDevice2ASIO>" ASIOHOST_EXE="$<TARGET_FILE:asiohost>")
    endif()
  endforeach()
endif()
