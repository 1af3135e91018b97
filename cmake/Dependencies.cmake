# Third-party libraries, all from Debian packages (scripts/install-deps).
pkg_check_modules(KISSFFT REQUIRED IMPORTED_TARGET kissfft-float)

if(NOT WIN32)
  pkg_check_modules(CAIRO REQUIRED IMPORTED_TARGET cairo)
  pkg_check_modules(FONTCONFIG REQUIRED IMPORTED_TARGET fontconfig)
  if(VELTROSA_EDITOR_X11)
    pkg_check_modules(X11 REQUIRED IMPORTED_TARGET x11)
    pkg_check_modules(CAIRO_XLIB REQUIRED IMPORTED_TARGET cairo-xlib)
  endif()
endif()

if(VELTROSA_TOOLS AND NOT WIN32)
  pkg_check_modules(SNDFILE REQUIRED IMPORTED_TARGET sndfile)
  pkg_check_modules(SMF REQUIRED IMPORTED_TARGET smf)
endif()

if(VELTROSA_TESTS)
  find_package(GTest REQUIRED)
endif()
if(VELTROSA_BENCH)
  find_package(benchmark REQUIRED)
endif()
