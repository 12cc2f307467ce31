# The Windows stub: a GUI program with a static runtime, importing system DLLs only.
enable_language(RC)

# Icon 128 (32x32 and 16x16, 16 colours), drawn as text pictures beside the dialogs.
find_program(TRELK_CONVERT convert REQUIRED)
set(TRELK_ICON ${CMAKE_BINARY_DIR}/ui/trelk.ico)
add_custom_command(
  OUTPUT ${TRELK_ICON}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/ui
  COMMAND ${TRELK_CONVERT} ${CMAKE_SOURCE_DIR}/src/ui/icon/trelk32.xpm ${CMAKE_SOURCE_DIR}/src/ui/icon/trelk16.xpm
          -colors 16 -type Palette ${TRELK_ICON}
  DEPENDS ${CMAKE_SOURCE_DIR}/src/ui/icon/trelk32.xpm ${CMAKE_SOURCE_DIR}/src/ui/icon/trelk16.xpm
  COMMENT "Drawing the stub's icon"
  VERBATIM)
add_custom_target(trelk-icon DEPENDS ${TRELK_ICON})

file(GLOB STUB_SOURCES CONFIGURE_DEPENDS src/app/win_*.cpp src/ui/*.cpp src/ui/*.rc)
add_executable(trelk-sfx WIN32 ${STUB_SOURCES})
add_dependencies(trelk-sfx trelk-icon)
set_source_files_properties(src/ui/trelk-sfx.rc PROPERTIES
  OBJECT_DEPENDS "${TRELK_ICON};${CMAKE_SOURCE_DIR}/src/ui/trelk-sfx.manifest;${CMAKE_SOURCE_DIR}/src/ui/resource.h")
target_include_directories(trelk-sfx PRIVATE src/ui ${CMAKE_BINARY_DIR}/ui)
target_link_libraries(trelk-sfx PRIVATE trelk_core comctl32 shell32 ole32)
# Static runtime, stripped, with ASLR and DEP marked in the header.
target_link_options(trelk-sfx PRIVATE -static -mwindows -s -Wl,--dynamicbase -Wl,--nxcompat)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  target_link_options(trelk-sfx PRIVATE -Wl,--high-entropy-va)
  set_target_properties(trelk-sfx PROPERTIES OUTPUT_NAME trelk-sfx64)
endif()
