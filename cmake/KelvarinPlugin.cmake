# Building plug-in modules and host programs.
#
#   kelvarin_add_plugin(<name> SOURCES <source>... [FORMS <file.kfm>...]
#                       [OWN_FRAMEWORK_COPY] [NO_PLUGIN_INFO])
#
# Makes the module <name>.kel (no "lib" prefix): linked with the shared framework
# library ulmKELrp, built so that unloading really unmaps it, with hidden
# visibility and only GetPluginInfo and RegisterKelvarin exported. The framework
# supplies GetPluginInfo; the plug-in's sources define RegisterKelvarin. FORMS
# are embedded with kelvarin_add_forms().
#   OWN_FRAMEWORK_COPY  links the module with its own copy of the framework and
#                       the toolkit (ulmKELrp_static) instead of the shared ones.
#   NO_PLUGIN_INFO      leaves GetPluginInfo out (for modules that bring their
#                       own, or none).
#
#   kelvarin_export_plugin_info(<executable>)
#
# Gives a host program the framework's GetPluginInfo and makes it the program's
# only exported symbol.

include(KelvarinMetadata)

# The framework targets and entry source that modules use; an installed package
# sets them to its imported targets before including this file.
if(NOT DEFINED KELVARIN_FRAMEWORK_SHARED)
  set(KELVARIN_FRAMEWORK_SHARED ulmKELrp)
  set(KELVARIN_FRAMEWORK_STATIC ulmKELrp_static)
  set(KELVARIN_PLUGIN_ENTRY $<TARGET_OBJECTS:ulmKELrp_entry>)
endif()

set(KELVARIN_PLUGIN_EXPORTS "${CMAKE_CURRENT_LIST_DIR}/KelvarinPluginExports.map" CACHE INTERNAL
    "Version script of plug-in modules")

function(kelvarin_add_plugin name)
  cmake_parse_arguments(PARSE_ARGV 1 PLUGIN "OWN_FRAMEWORK_COPY;NO_PLUGIN_INFO" ""
                        "SOURCES;FORMS")
  add_library(${name} MODULE ${PLUGIN_SOURCES})
  set_target_properties(${name} PROPERTIES
    PREFIX "" SUFFIX ".kel"
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  kelvarin_target_defaults(${name})
  kelvarin_unloadable_code(${name})
  if(PLUGIN_OWN_FRAMEWORK_COPY)
    target_link_libraries(${name} PRIVATE ${KELVARIN_FRAMEWORK_STATIC})
  else()
    target_link_libraries(${name} PRIVATE ${KELVARIN_FRAMEWORK_SHARED})
  endif()
  if(NOT PLUGIN_NO_PLUGIN_INFO)
    target_sources(${name} PRIVATE ${KELVARIN_PLUGIN_ENTRY})
  endif()
  kelvarin_add_plugin_metadata(${name} FORMS ${PLUGIN_FORMS})
  # Everything but the two entry points binds inside the module, also the code of
  # a framework copy linked in.
  target_link_options(${name} PRIVATE "LINKER:--version-script=${KELVARIN_PLUGIN_EXPORTS}"
                      "LINKER:--no-undefined" "LINKER:-z,text")
  set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS "${KELVARIN_PLUGIN_EXPORTS}")
  if(PLUGIN_FORMS)
    kelvarin_add_forms(${name} ${PLUGIN_FORMS})
  endif()
endfunction()

function(kelvarin_export_plugin_info target)
  target_sources(${target} PRIVATE ${KELVARIN_PLUGIN_ENTRY})
  target_link_options(${target} PRIVATE "LINKER:--export-dynamic-symbol=GetPluginInfo")
endfunction()
