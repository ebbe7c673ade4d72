# TinyXML, KISS FFT and googletest, all from Debian.
#  host:    the binary packages libtinyxml-dev and libkissfft-dev
#  windows: the Debian source packages, fetched at configure time and built with the cross toolchain
# googletest is built from /usr/src/googletest in both builds (so it carries the build's sanitizers).
if(WIN32 OR OVLED_FUZZ)
  include(DebianThirdParty)
  add_library(ovled::tinyxml ALIAS tinyxml)
  add_library(ovled::kissfft ALIAS kissfft)
else()
  find_path(TINYXML_INCLUDE_DIR tinyxml.h REQUIRED)
  find_library(TINYXML_LIBRARY NAMES tinyxml REQUIRED)
  add_library(ovled_tinyxml INTERFACE)
  target_include_directories(ovled_tinyxml SYSTEM INTERFACE ${TINYXML_INCLUDE_DIR})
  target_link_libraries(ovled_tinyxml INTERFACE ${TINYXML_LIBRARY})
  target_compile_definitions(ovled_tinyxml INTERFACE TIXML_USE_STL)
  add_library(ovled::tinyxml ALIAS ovled_tinyxml)

  find_package(kissfft CONFIG REQUIRED COMPONENTS SHARED float)
  add_library(ovled::kissfft ALIAS kissfft::kissfft)
endif()

if(BUILD_TESTING)
  set(OVLED_GOOGLETEST_DIR /usr/src/googletest CACHE PATH "googletest sources (Debian package googletest)")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(${OVLED_GOOGLETEST_DIR} ${CMAKE_BINARY_DIR}/_googletest EXCLUDE_FROM_ALL SYSTEM)
endif()
