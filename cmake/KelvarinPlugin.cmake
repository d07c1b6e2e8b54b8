# Building plug-in modules and host programs.
#
#   kelvarin_add_plugin(<name> SOURCES <source>... [FORMS <file.kfm>...]
#                       [OWN_FRAMEWORK_COPY] [NO_PLUGIN_INFO] [NO_FORM_CHECK])
#
# Makes the module <name>.kel (no "lib" prefix): linked with the shared framework
# library ulmKELrp, built so that unloading really unmaps it, with hidden
# visibility and only GetPluginInfo and RegisterKelvarin exported. kelforms
# writes a source that carries the FORMS, the metadata section kelinfo reads and
# GetPluginInfo; the plug-in's sources define RegisterKelvarin. Once linked, the
# module is checked (kelforms check): a module that does not export both entry
# points fails the build, as every manager would refuse it; its forms are read
# against its own classes: a misspelt property, an unknown class or handler, a
# value of the wrong type fails the build at the form's line and column. A window
# form is checked when the module registers its class (keltk::ClassRegistrar);
# otherwise the check warns. A module that cannot be loaded where it is built (a
# library it links is found only where it runs) is kept, with a warning.
#   OWN_FRAMEWORK_COPY  links the module with its own copy of the framework and
#                       the toolkit (ulmKELrp_static) instead of the shared ones.
#   NO_PLUGIN_INFO      leaves GetPluginInfo out (for modules that bring their
#                       own, or none).
#   NO_FORM_CHECK       skips the check (a module that must not run where it is
#                       built, or lacks an entry point on purpose).
#
#   kelvarin_add_forms(<target> <file.kfm>...)
#
# Embeds stored forms into a host program (or any target that is not a plug-in
# module), registered with the toolkit while it runs.
#
#   kelvarin_export_plugin_info(<executable>)
#
# Gives a host program a GetPluginInfo of its own and exports it, as every plug-in
# module does. Optional: the framework itself never asks a program for it.

# The framework targets, entry source and form tool that modules use; an
# installed package sets them to its own before including this file.
if(NOT DEFINED KELVARIN_FRAMEWORK_SHARED)
  set(KELVARIN_FRAMEWORK_SHARED ulmKELrp)
  set(KELVARIN_FRAMEWORK_STATIC ulmKELrp_static)
  set(KELVARIN_PLUGIN_ENTRY $<TARGET_OBJECTS:ulmKELrp_entry>)
  set(KELVARIN_FORMS_TOOL kelforms)
endif()

set(KELVARIN_PLUGIN_EXPORTS "${CMAKE_CURRENT_LIST_DIR}/KelvarinPluginExports.map" CACHE INTERNAL
    "Version script of plug-in modules")

# Stops the configure step at the caller with what is wrong in its call.
function(_kelvarin_check_call where unparsed expected forms)
  if(unparsed)
    message(FATAL_ERROR "${where}: unknown argument(s) ${unparsed}; expected ${expected}")
  endif()
  foreach(form IN LISTS forms)
    get_filename_component(form_path "${form}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    if(NOT EXISTS "${form_path}" OR IS_DIRECTORY "${form_path}")
      message(FATAL_ERROR "${where}: form file \"${form}\" not found (${form_path})")
    endif()
  endforeach()
endfunction()

# A misspelt keyword (FORM for FORMS, Forms) is taken for one more file of the
# keyword before it: a file name written in capitals, or any spelling of a
# keyword, is reported as a keyword that is not one.
function(_kelvarin_check_keywords where expected)
  foreach(value IN LISTS ARGN)
    string(TOUPPER "${value}" upper)
    if(value MATCHES "^[A-Z][A-Z_]*$" OR upper MATCHES
       "^(SOURCES?|FORMS?|OWN_FRAMEWORK_COPY|NO_PLUGIN_INFO|NO_FORM_CHECK)$")
      message(FATAL_ERROR "${where}: \"${value}\" is not a keyword; expected ${expected}")
    endif()
  endforeach()
endfunction()

function(_kelvarin_absolute_paths out)
  set(paths "")
  foreach(file IN LISTS ARGN)
    get_filename_component(path "${file}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    list(APPEND paths "${path}")
  endforeach()
  set(${out} "${paths}" PARENT_SCOPE)
endfunction()

# The generated source of <target>, written by kelforms with `options` from `forms`.
function(_kelvarin_forms_source target options forms)
  set(generated "${CMAKE_CURRENT_BINARY_DIR}/kelvarin_forms/${target}.forms.cpp")
  add_custom_command(
    OUTPUT "${generated}"
    COMMAND ${KELVARIN_FORMS_TOOL} source ${options} -o "${generated}" ${forms}
    DEPENDS ${forms} ${KELVARIN_FORMS_TOOL}
    COMMENT "Embedding the forms of ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE "${generated}")
endfunction()

function(kelvarin_add_plugin name)
  cmake_parse_arguments(PARSE_ARGV 1 PLUGIN "OWN_FRAMEWORK_COPY;NO_PLUGIN_INFO;NO_FORM_CHECK" ""
                        "SOURCES;FORMS")
  set(keywords "SOURCES, FORMS, OWN_FRAMEWORK_COPY, NO_PLUGIN_INFO or NO_FORM_CHECK")
  _kelvarin_check_keywords("kelvarin_add_plugin(${name})" "${keywords}" ${PLUGIN_SOURCES}
                           ${PLUGIN_FORMS})
  _kelvarin_check_call("kelvarin_add_plugin(${name})" "${PLUGIN_UNPARSED_ARGUMENTS}"
                       "${keywords}" "${PLUGIN_FORMS}")
  if(NOT PLUGIN_SOURCES)
    message(FATAL_ERROR "kelvarin_add_plugin(${name}): no SOURCES; a plug-in module needs at "
                        "least the source that defines RegisterKelvarin")
  endif()
  _kelvarin_absolute_paths(forms ${PLUGIN_FORMS})

  add_library(${name} MODULE ${PLUGIN_SOURCES})
  # Installed, the module keeps finding a framework that lies outside the project.
  set_target_properties(${name} PROPERTIES
    PREFIX "" SUFFIX ".kel"
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
    INSTALL_RPATH_USE_LINK_PATH ON)
  kelvarin_target_defaults(${name})
  kelvarin_unloadable_code(${name})
  if(PLUGIN_OWN_FRAMEWORK_COPY)
    target_link_libraries(${name} PRIVATE ${KELVARIN_FRAMEWORK_STATIC})
  else()
    target_link_libraries(${name} PRIVATE ${KELVARIN_FRAMEWORK_SHARED})
  endif()
  set(options "")
  if(PLUGIN_NO_PLUGIN_INFO)
    set(options --no-entry)
  endif()
  _kelvarin_forms_source(${name} "${options}" "${forms}")
  # Everything but the two entry points binds inside the module, also the code of
  # a framework copy linked in.
  target_link_options(${name} PRIVATE "LINKER:--version-script=${KELVARIN_PLUGIN_EXPORTS}"
                      "LINKER:--no-undefined" "LINKER:-z,text")
  set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS "${KELVARIN_PLUGIN_EXPORTS}")
  if(PLUGIN_NO_FORM_CHECK)
    return()
  endif()
  # A module whose forms do not read is not left behind for a host to load.
  add_custom_command(TARGET ${name} POST_BUILD
    COMMAND ${KELVARIN_FORMS_TOOL} check --remove-on-error $<TARGET_FILE:${name}> ${forms}
    COMMENT "Checking the forms of ${name}"
    VERBATIM)
endfunction()

function(kelvarin_add_forms target)
  _kelvarin_check_call("kelvarin_add_forms(${target})" "" "" "${ARGN}")
  _kelvarin_absolute_paths(forms ${ARGN})
  _kelvarin_forms_source(${target} --forms-only "${forms}")
endfunction()

function(kelvarin_export_plugin_info target)
  target_sources(${target} PRIVATE ${KELVARIN_PLUGIN_ENTRY})
  target_link_options(${target} PRIVATE "LINKER:--export-dynamic-symbol=GetPluginInfo")
endfunction()
