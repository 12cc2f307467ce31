# The Windows stub: a GUI program with a static runtime, importing system DLLs only.
file(GLOB STUB_SOURCES CONFIGURE_DEPENDS src/app/win_*.cpp src/ui/*.cpp src/ui/*.rc)
add_executable(trelk-sfx WIN32 ${STUB_SOURCES})
target_link_libraries(trelk-sfx PRIVATE trelk_core)
target_link_options(trelk-sfx PRIVATE -static -mwindows)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set_target_properties(trelk-sfx PROPERTIES OUTPUT_NAME trelk-sfx64)
endif()
