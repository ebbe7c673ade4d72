# Compiler settings shared by every target of ours (not by third-party code).
add_library(ovled_options INTERFACE)
target_compile_options(ovled_options INTERFACE -Wall -Wextra -Werror -Wno-missing-field-initializers)
if(WIN32)
  # Unicode Win32 API throughout; Windows 10 API level for the Core Audio and loader flags we use.
  target_compile_definitions(ovled_options INTERFACE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                             _WIN32_WINNT=0x0A00 WINVER=0x0A00)
endif()

if(OVLED_SANITIZE AND NOT WIN32)
  string(REPLACE ";" "," _san "${OVLED_SANITIZE}")
  set(_sanflags -fsanitize=${_san} -fno-omit-frame-pointer)
  if("undefined" IN_LIST OVLED_SANITIZE)
    list(APPEND _sanflags -fno-sanitize-recover=undefined)
  endif()
  # Sanitize everything in the build (googletest included) so that reports see whole call chains.
  add_compile_options(${_sanflags})
  add_link_options(${_sanflags})
endif()
