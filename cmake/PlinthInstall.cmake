# Installation rules, the CMake package and the pkg-config files.
