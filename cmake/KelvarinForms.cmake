# Embedding stored form data (.kfm) into the module that is being built.
#
#   kelvarin_add_forms(<target> <file.kfm>...)
#
# At build time each .kfm becomes a generated source that holds the text as a
# constant array and registers it, for the module it is linked into, while that
# module is loaded (keltk::RegisterFormResource / UnregisterFormResource).
# Editing a .kfm rebuilds its source.
#
# The same file, run with `cmake -P` and -DKFM_INPUT=... -DKFM_OUTPUT=..., is the
# generator.

if(CMAKE_SCRIPT_MODE_FILE)
  if(NOT KFM_INPUT OR NOT KFM_OUTPUT)
    message(FATAL_ERROR "KFM_INPUT and KFM_OUTPUT are required")
  endif()
  file(READ "${KFM_INPUT}" hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  get_filename_component(source_name "${KFM_INPUT}" NAME)
  set(content "// Generated from ${source_name} by kelvarin_add_forms(); do not edit.
#include \"keltk/Resources.h\"

#include <cstddef>
#include <string_view>

namespace {

// The text and a terminating zero, which is not part of it.
const unsigned char formBytes[] = {${bytes}0x00};
constexpr std::size_t formSize = ${size};

std::string_view formText() { return {reinterpret_cast<const char*>(formBytes), formSize}; }

// Registers the form for this module while the module is loaded.
struct FormRegistrar {
  FormRegistrar() { keltk::RegisterFormResource(formText(), formBytes); }
  ~FormRegistrar() { keltk::UnregisterFormResource(formText()); }
  FormRegistrar(const FormRegistrar&) = delete;
  FormRegistrar& operator=(const FormRegistrar&) = delete;
};

const FormRegistrar registrar;

} // namespace
")
  file(WRITE "${KFM_OUTPUT}" "${content}")
  return()
endif()

set(KELVARIN_FORMS_GENERATOR "${CMAKE_CURRENT_LIST_FILE}" CACHE INTERNAL
    "Script that turns a .kfm file into a registering source")

function(kelvarin_add_forms target)
  foreach(form IN LISTS ARGN)
    get_filename_component(form_path "${form}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    get_filename_component(form_name "${form_path}" NAME)
    set(generated "${CMAKE_CURRENT_BINARY_DIR}/kelvarin_forms/${target}/${form_name}.cpp")
    add_custom_command(
      OUTPUT "${generated}"
      COMMAND "${CMAKE_COMMAND}" -DKFM_INPUT=${form_path} -DKFM_OUTPUT=${generated}
              -P "${KELVARIN_FORMS_GENERATOR}"
      DEPENDS "${form_path}" "${KELVARIN_FORMS_GENERATOR}"
      COMMENT "Embedding form ${form_name} into ${target}"
      VERBATIM)
    target_sources(${target} PRIVATE "${generated}")
  endforeach()
endfunction()
