# Fails when a file includes a header from a layer above its own. Every build runs it
# (target quil_check_layers) and so does .ci/run:
#
#     cmake -P cmake/check_layers.cmake
#
# The layers, lowest first; each may include its own headers and those of the layers it
# names, and nothing else of the project:
#
#   engine/include/quil/common/   memory, panic, counts, SharedPtr     -> the standard library
#   engine/include/quil/hash/     SipHash-1-3                          -> common
#   engine/include/quil/list/     PersistentList                       -> common
#   engine/include/quil/*.hpp     PersistentQueue, PersistentStack     -> common, list
#   engine/include/quil/trie/     the hash trie                        -> common, hash, list
#   src/runtime/                  frame, errors, types, allocator      -> engine common, CPython
#   src/bridge/                   what the class families share        -> runtime, engine
#   src/classes/                  one file per class family            -> bridge, runtime, engine
#   src/module.cpp                the module                           -> anything
#
# Project headers are included with quotes, by their path below engine/include or src;
# an angle-bracket include is a system header. The engine may not include Python.h (its
# target has no Python include path either). A file below src/ or engine/include/ that
# belongs to no layer is an error too, so a new folder has to be given its place here.
cmake_minimum_required(VERSION 3.25)

get_filename_component(root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)

# name, files (globs relative to the root), quoted include prefixes it may use.
set(layer_names common hash list queue_stack trie runtime bridge classes module)
set(common_files "engine/include/quil/common/*")
set(common_may "quil/common/")
set(hash_files "engine/include/quil/hash/*")
set(hash_may "quil/common/" "quil/hash/")
set(list_files "engine/include/quil/list/*")
set(list_may "quil/common/" "quil/list/")
set(queue_stack_files "engine/include/quil/queue.hpp" "engine/include/quil/stack.hpp")
set(queue_stack_may "quil/common/" "quil/list/")
set(trie_files "engine/include/quil/trie/*")
set(trie_may "quil/common/" "quil/hash/" "quil/list/" "quil/trie/")
set(runtime_files "src/runtime/*")
set(runtime_may "runtime/" "quil/common/")
set(bridge_files "src/bridge/*")
set(bridge_may "bridge/" "runtime/" "quil/")
set(classes_files "src/classes/*")
set(classes_may "bridge/" "runtime/" "quil/")
set(module_files "src/module.cpp")
set(module_may "classes/" "bridge/" "runtime/" "quil/")

set(violations 0)
set(placed "")

foreach(layer IN LISTS layer_names)
    set(globs "")
    foreach(pattern IN LISTS ${layer}_files)
        list(APPEND globs "${root}/${pattern}")
    endforeach()
    file(GLOB files RELATIVE "${root}" ${globs})
    foreach(file IN LISTS files)
        list(APPEND placed "${file}")
        file(STRINGS "${root}/${file}" includes REGEX "^[ \t]*#[ \t]*include")
        foreach(line IN LISTS includes)
            if(line MATCHES "#[ \t]*include[ \t]*\"([^\"]+)\"")
                set(target "${CMAKE_MATCH_1}")
                set(allowed FALSE)
                foreach(prefix IN LISTS ${layer}_may)
                    string(FIND "${target}" "${prefix}" at)
                    if(at EQUAL 0)
                        set(allowed TRUE)
                    endif()
                endforeach()
                if(NOT allowed)
                    string(REPLACE ";" ", " may "${${layer}_may}")
                    message(SEND_ERROR "${file} (layer ${layer}) includes \"${target}\"; "
                                       "it may include only ${may}")
                    math(EXPR violations "${violations} + 1")
                endif()
            elseif(file MATCHES "^engine/" AND line MATCHES "<[^>]*Python[^>]*>")
                message(SEND_ERROR "${file} includes a Python header: the engine is Python-free")
                math(EXPR violations "${violations} + 1")
            endif()
        endforeach()
    endforeach()
endforeach()

file(GLOB_RECURSE all_files RELATIVE "${root}" "${root}/src/*" "${root}/engine/include/*")
foreach(file IN LISTS all_files)
    if(NOT file IN_LIST placed)
        message(SEND_ERROR "${file} belongs to no layer; give its folder a place in "
                           "cmake/check_layers.cmake")
        math(EXPR violations "${violations} + 1")
    endif()
endforeach()

if(violations GREATER 0)
    message(FATAL_ERROR "${violations} layer violation(s)")
endif()
