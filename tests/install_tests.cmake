# The install as players make it: into a prefix, into their own HOME, and as
# the Debian package. Installs from one build tree share its install
# manifest and generated pages: one at a time.
set(check ${PROJECT_SOURCE_DIR}/tests/install_tree_check.sh)
set(validator ${ONDELITH_VST3_VALIDATOR})
add_test(NAME install_prefix COMMAND ${check} prefix ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR} ${validator})
add_test(NAME install_user COMMAND ${check} user ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR} ${validator})
add_test(NAME install_package COMMAND ${check} package ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR} ${validator})
set_tests_properties(install_prefix install_user install_package PROPERTIES RESOURCE_LOCK build_install)
# A package the machine has installed already is not touched.
set_tests_properties(install_package PROPERTIES SKIP_RETURN_CODE 77)
# While the package is in /usr, hosts searching the system folders would find
# a second copy of the plugin: nothing else runs meanwhile.
set_tests_properties(install_package PROPERTIES RUN_SERIAL TRUE)
