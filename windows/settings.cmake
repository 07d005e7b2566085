# Settings of the Windows build that must be made before any target.

# Programs sit beside the DLL they import (the stand-in host's idl.dll), the
# first place Windows looks for it.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)

# A Windows module folder is an install prefix of its own:
# <prefix>\vokip.dll beside <prefix>\vokip.dlm.
set(VOKIP_MODULE_INSTALL_DIR .)

# Debian serves no SLEEF sources to build for Windows: the module's own arc
# tangents serve there.
set(VOKIP_SLEEF OFF CACHE BOOL "Geometry maps' arc tangents from SLEEF (else the module's own)")
