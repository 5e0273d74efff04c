# Packs the Windows programs for the survey PC into one zip file (cmake -P, from the dist target):
#
#   morvane.exe, capture-tool.exe, README.txt (CR LF line ends), review.html (the review page),
#   simulator/hsif.dll and simulator/LOOKUPHS (never beside morvane.exe, where the simulated
#   library would shadow the vendor's)
#
# Variables: VERSION, MORVANE, CAPTURE_TOOL, HSIF_DLL, CALIBRATION, GUIDE (the guide's source
# with "\n" line ends and @VERSION@), REVIEW_PAGE (review.html), STAGING (a scratch folder), ZIP
# (the file to write).
cmake_minimum_required(VERSION 3.20)

foreach(var VERSION MORVANE CAPTURE_TOOL HSIF_DLL CALIBRATION GUIDE REVIEW_PAGE STAGING ZIP)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "pack.cmake: ${var} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE ${STAGING})
file(MAKE_DIRECTORY ${STAGING}/simulator)
file(COPY ${MORVANE} ${CAPTURE_TOOL} ${REVIEW_PAGE} DESTINATION ${STAGING})
file(COPY ${HSIF_DLL} ${CALIBRATION} DESTINATION ${STAGING}/simulator)

# The guide is read on Windows, where Notepad of older systems shows "\n" alone as one long line.
file(READ ${GUIDE} guide)
string(REPLACE "@VERSION@" "${VERSION}" guide "${guide}")
string(REPLACE "\r\n" "\n" guide "${guide}")
string(REPLACE "\n" "\r\n" guide "${guide}")
file(WRITE ${STAGING}/README.txt "${guide}")

get_filename_component(zip_dir ${ZIP} DIRECTORY)
file(MAKE_DIRECTORY ${zip_dir})
file(REMOVE ${ZIP})
execute_process(
  COMMAND ${CMAKE_COMMAND} -E tar cf ${ZIP} --format=zip
          morvane.exe capture-tool.exe README.txt review.html simulator/hsif.dll simulator/LOOKUPHS
  WORKING_DIRECTORY ${STAGING}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "pack.cmake: could not write ${ZIP}")
endif()
message(STATUS "packed ${ZIP}")
