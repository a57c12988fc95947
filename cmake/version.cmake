# The product's version comes from project() in the top CMakeLists.txt and nowhere else. It
# reaches the program this way: scripts/package.sh reads build/version.txt and stamps the Debian
# package with it; installing the package writes it as "DisplayVersion" of the product's uninstall
# entry in the machine registry store, which the program reads at start (its about window and its
# usage reports show it). A build run from its own folder has no entry and says so.
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/version.txt CONTENT "@PROJECT_VERSION@\n")
