# SPDX-License-Identifier: Apache-2.0
# Run by cpack before it makes the package of a build that carries SQLite and
# the C++ runtime inside its programs, which a distribution's package must not.
message(FATAL_ERROR "The package loads SQLite, utf8proc and the C++ runtime from the system: "
                    "configure the build with -DVXM_STATIC_RUNTIME=OFF, then run cpack again.")
