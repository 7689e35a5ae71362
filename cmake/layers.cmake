# The layers, top to bottom: server and tools -> filter -> manifest -> videoproc and
# fragments -> framework (with framework/platform at its bottom). A layer's sources see the source
# folders of their own layer and of those below it, and no others: each target gets an
# include tree of its own holding links to just those folders, and the source root itself
# is on no include path, so an include of a higher layer's header fails to build.
set(KVSSF_LAYER_platform framework/platform)
set(KVSSF_LAYER_framework framework)
set(KVSSF_LAYER_fragments fragments ${KVSSF_LAYER_framework})
set(KVSSF_LAYER_videoproc videoproc ${KVSSF_LAYER_framework})
set(KVSSF_LAYER_manifest manifest videoproc ${KVSSF_LAYER_fragments})
set(KVSSF_LAYER_filter filter ${KVSSF_LAYER_manifest})
set(KVSSF_LAYER_server server ${KVSSF_LAYER_filter})
set(KVSSF_LAYER_tools tools ${KVSSF_LAYER_filter})

# kvssf_layer(<target> <layer>): target's sources see the folders of <layer>.
function(kvssf_layer target layer)
  set(root ${CMAKE_BINARY_DIR}/layers/${layer})
  if(NOT EXISTS ${root})
    foreach(folder ${KVSSF_LAYER_${layer}})
      get_filename_component(parent ${root}/${folder} DIRECTORY)
      file(MAKE_DIRECTORY ${parent})
      file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
    endforeach()
  endif()
  target_include_directories(${target} PRIVATE ${root})
endfunction()
