# quarvel_add_sprites(TARGET ROOT SETTINGS...): render Quarvel jobs as part of a build.
#
#   quarvel_add_sprites(game_sprites ${CMAKE_CURRENT_SOURCE_DIR}/art
#                       units/tank units/truck
#                       [OUT dir] [FORMAT kxz|2p5d|png] [OPTIONS --maps normal ...]
#                       [CLI path/to/quarvel-cli] [ALL])
#
# OPTIONS are passed on to every render as they are (the PNG sheets' --maps, --atlas ...).
# Each settings name (relative to ROOT, without ".settings") becomes one custom command
# that renders the job into OUT (default ${CMAKE_CURRENT_BINARY_DIR}/sprites) and whose
# output is the job's manifest, OUT/dir/.name.manifest, written with the sprite files. The
# command writes a dependency file (render --depfile) naming every file the job read: its
# settings file and includes, models, material libraries, textures and shader files. With
# the Ninja and Makefile generators the build therefore renders exactly the jobs whose
# inputs changed, and a new texture referenced by an edited material is picked up on the
# next build. The build tool decides what is stale, so the command renders with --force.
#
# TARGET is a custom target that depends on every job's manifest (built by default with
# ALL). The program is CLI, or the imported target Quarvel::quarvel-cli of
# find_package(Quarvel), or quarvel-cli found on the PATH.
include_guard(GLOBAL)

function(quarvel_add_sprites target root)
  cmake_parse_arguments(PARSE_ARGV 2 QAS "ALL" "OUT;FORMAT;CLI" "OPTIONS")
  set(settings ${QAS_UNPARSED_ARGUMENTS})
  if(NOT settings)
    message(FATAL_ERROR "quarvel_add_sprites(${target}): name at least one settings file")
  endif()
  if(NOT QAS_OUT)
    set(QAS_OUT ${CMAKE_CURRENT_BINARY_DIR}/sprites)
  endif()
  if(NOT QAS_FORMAT)
    set(QAS_FORMAT kxz)
  endif()
  if(QAS_CLI)
    set(cli ${QAS_CLI})
  elseif(TARGET Quarvel::quarvel-cli)
    set(cli Quarvel::quarvel-cli)
  else()
    find_program(QUARVEL_CLI_PROGRAM quarvel-cli REQUIRED)
    set(cli ${QUARVEL_CLI_PROGRAM})
  endif()
  get_filename_component(root ${root} ABSOLUTE)
  get_filename_component(out ${QAS_OUT} ABSOLUTE)

  set(manifests)
  foreach(name IN LISTS settings)
    string(REPLACE "\\" "/" name "${name}")
    string(REGEX REPLACE "\\.settings$" "" name "${name}")
    get_filename_component(dir "${name}" DIRECTORY)
    get_filename_component(base "${name}" NAME)
    if(dir)
      set(manifest ${out}/${dir}/.${base}.manifest)
    else()
      set(manifest ${out}/.${base}.manifest)
    endif()
    string(MAKE_C_IDENTIFIER "${name}" id)
    set(depfile ${CMAKE_CURRENT_BINARY_DIR}/quarvel-deps/${target}/${id}.d)
    add_custom_command(OUTPUT ${manifest}
      COMMAND ${cli} render ${name} --root ${root} --out ${out} --format ${QAS_FORMAT}
              ${QAS_OPTIONS} --force --quiet --depfile ${depfile}
      DEPENDS ${root}/${name}.settings
      DEPFILE ${depfile}
      COMMENT "Rendering sprites ${name}"
      VERBATIM)
    list(APPEND manifests ${manifest})
  endforeach()
  set(all)
  if(QAS_ALL)
    set(all ALL)
  endif()
  add_custom_target(${target} ${all} DEPENDS ${manifests})
endfunction()
