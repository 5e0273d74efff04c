# Cross build for 64-bit Windows: a test vehicle that runs under 64-bit Wine where 32-bit programs
# cannot run. No vendor library is 64-bit, so it never goes to a survey PC.
set(MORVANE_MINGW_PROCESSOR x86_64)
set(MORVANE_WINE_ARCH --win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
