# Read by cpack for each generator: the RPM leaves out what only Debian reads (its README, its
# changelog, the lintian overrides), which are the "debian" component.
if(CPACK_GENERATOR STREQUAL "RPM")
  set(CPACK_RPM_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_COMPONENTS_ALL Unspecified)
endif()
