# Cross build for 32-bit Windows, the production program (the vendor's library is 32-bit).
set(MORVANE_MINGW_PROCESSOR i686)
set(MORVANE_WINE_ARCH --win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
